#!/usr/bin/env bash
# The install tree and the Debian package, checked the way a distribution would.
#   install_test.sh install BUILD PREFIX   cmake --install into PREFIX (a fresh one)
#   install_test.sh validate PREFIX        the installed files, validated; the man pages cover every option
#   install_test.sh package BUILD OUT [hardened]
#                                          cpack -G DEB into OUT; its Depends and contents, lintian
#                                          without errors; hardened: the executables were built
#                                          with the distribution's hardening flags
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }

install_tree() {
    local build=$1 prefix=$2
    rm -rf "$prefix"
    cmake --install "$build" --prefix "$prefix" >/dev/null
}

validate() {
    local prefix=$1 id=org.example.orvanta
    for file in bin/orvanta bin/orvanta-service share/orvanta/stocks.csv share/orvanta/KabuList.dat \
        share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
        share/icons/hicolor/scalable/apps/$id.svg share/man/man1/orvanta.1.gz share/man/man1/orvanta-service.1.gz \
        share/doc/orvanta/copyright share/doc/orvanta/changelog.gz; do
        [ -e "$prefix/$file" ] || fail "$file is not installed"
    done

    local desktop=$prefix/share/applications/$id.desktop
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
    for key in '^Exec=orvanta$' "^Icon=$id\$" '^Categories=Office;Finance;$' '^Name=' '^Name\[ja\]=' \
        '^Comment=' '^Comment\[ja\]=' '^Keywords='; do
        grep -q "$key" "$desktop" || fail "the desktop entry lacks $key"
    done
    appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"

    # Every option the programs know heads a paragraph of its own in their man page (a missing
    # .TP runs one option's text into the one before), and the versions agree.
    local program page tags option
    for program in orvanta orvanta-service; do
        page=$(zcat "$prefix/share/man/man1/$program.1.gz" | sed 's/\\-/-/g')
        tags=$(awk 'previous == ".TP" { print } { previous = $0 }' <<<"$page")
        for option in $("$prefix/bin/$program" --help | grep -oE -- '(^|[ ,])--?[a-z][a-z0-9-]*' | tr -d ' ,' | sort -u); do
            grep -qe "$option" <<<"$page" || fail "$program(1) does not describe $option"
            grep -qE -- "(^|[ \"])$option(\$|[ \"])" <<<"$tags" || fail "$program(1) gives $option no paragraph of its own (.TP)"
        done
    done
    local version
    version=$("$prefix/bin/orvanta" --version | awk '{print $2}')
    zcat "$prefix/share/man/man1/orvanta.1.gz" | grep -q "\"Orvanta $version\"" || fail "orvanta(1) is not of version $version"
    grep -q "<release version=\"$version\"" "$prefix/share/metainfo/$id.metainfo.xml" ||
        fail "the AppStream metadata has no release $version"

    # The installed service reads its own sample market and imports into the user's folder only.
    local home work
    work=$(mktemp -d)
    home=$work/home
    mkdir -p "$home" "$work/prices"
    printf 'Date,Open,High,Low,Close,Volume\n2026-12-04,2500,2600,2400,2590,1000\n' >"$work/prices/7203.csv"
    local before after
    before=$(cd "$prefix/share/orvanta" && find . -type f -exec sha256sum {} + | sort)
    env -u XDG_DATA_HOME HOME="$home" "$prefix/bin/orvanta-service" --import "$work/prices" >"$work/report" ||
        fail "the import failed: $(cat "$work/report")"
    after=$(cd "$prefix/share/orvanta" && find . -type f -exec sha256sum {} + | sort)
    [ "$before" = "$after" ] || fail "the import wrote into the install tree"
    for file in prices/7203.csv stocks.csv KabuList.dat; do
        [ -f "$home/.local/share/orvanta/service/$file" ] || fail "the import left no $file in the user's folder"
    done
    rm -rf "$work"
}

package() {
    local build=$1 out=$2 hardened=${3:-}
    rm -rf "$out"
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out.log" 2>&1 || { cat "$out.log"; fail "cpack"; }
    local deb
    deb=$(ls "$out"/*.deb)
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "$(basename "$deb"): $(stat -c %s "$deb") bytes; Depends: $depends"
    for package in libqt6widgets6 libcurl4 libcpp-httplib libpng16-16 fonts-ipafont-gothic; do
        grep -q "\b$package" <<<"$depends" || fail "Depends lacks $package"
    done
    local contents
    contents=$(dpkg-deb -c "$deb")
    for file in ./usr/bin/orvanta ./usr/bin/orvanta-service ./usr/share/orvanta/KabuList.dat \
        ./usr/share/applications/org.example.orvanta.desktop ./usr/share/doc/orvanta/copyright \
        ./usr/share/doc/orvanta/changelog.gz; do
        grep -q " $file\$" <<<"$contents" || fail "the package lacks $file"
    done

    # What a distribution's archive would refuse. The report stays in the log either way.
    lintian --fail-on error --tag-display-limit 0 "$deb" >"$out/lintian.log" 2>&1 ||
        { cat "$out/lintian.log"; fail "lintian reports errors"; }
    cat "$out/lintian.log"

    if [ "$hardened" = hardened ]; then
        dpkg-deb -x "$deb" "$out/root"
        local program
        for program in orvanta orvanta-service; do
            local binary=$out/root/usr/bin/$program segments dynamic symbols
            segments=$(readelf -lW "$binary")
            dynamic=$(readelf -dW "$binary")
            symbols=$(readelf -W --dyn-syms "$binary")
            grep -q GNU_RELRO <<<"$segments" || fail "$program is not linked with -z relro"
            grep -qE 'BIND_NOW|FLAGS_1.* NOW' <<<"$dynamic" || fail "$program is not linked with -z now"
            grep -q ' __stack_chk_fail' <<<"$symbols" || fail "$program is not built with -fstack-protector-strong"
            grep -qE ' __[a-z0-9_]+_chk(@| |$)' <<<"$symbols" ||
                fail "$program calls no fortified functions: built without -D_FORTIFY_SOURCE=2"
        done
    fi
}

case ${1:-} in
install) install_tree "$2" "$3" ;;
validate) validate "$2" ;;
package) package "$2" "$3" "${4:-}" ;;
*) fail "usage: $0 install|validate|package ..." ;;
esac
