#!/usr/bin/env bash
# The install tree and the Debian package, checked the way a distribution would.
#   install_test.sh install BUILD PREFIX   cmake --install into PREFIX (a fresh one)
#   install_test.sh validate PREFIX        the installed files, validated; the man pages cover every option
#   install_test.sh package BUILD OUT      cpack -G DEB into OUT; its Depends and contents
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
        share/icons/hicolor/scalable/apps/$id.svg share/man/man1/orvanta.1.gz share/man/man1/orvanta-service.1.gz; do
        [ -e "$prefix/$file" ] || fail "$file is not installed"
    done

    local desktop=$prefix/share/applications/$id.desktop
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
    for key in '^Exec=orvanta$' "^Icon=$id\$" '^Categories=Office;Finance;$' '^Name=' '^Name\[ja\]=' \
        '^Comment=' '^Comment\[ja\]=' '^Keywords='; do
        grep -q "$key" "$desktop" || fail "the desktop entry lacks $key"
    done
    appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"

    # Every option the programs know is in their man page, and the versions agree.
    local program page option
    for program in orvanta orvanta-service; do
        page=$(zcat "$prefix/share/man/man1/$program.1.gz" | sed 's/\\-/-/g')
        for option in $("$prefix/bin/$program" --help | grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u); do
            grep -qe "$option" <<<"$page" || fail "$program(1) does not describe $option"
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
    local build=$1 out=$2
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
        ./usr/share/applications/org.example.orvanta.desktop; do
        grep -q " $file\$" <<<"$contents" || fail "the package lacks $file"
    done
}

case ${1:-} in
install) install_tree "$2" "$3" ;;
validate) validate "$2" ;;
package) package "$2" "$3" ;;
*) fail "usage: $0 install|validate|package ..." ;;
esac
