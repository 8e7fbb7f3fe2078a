#!/usr/bin/python3
# Makes the small listing files the service tests read: listing.xls with xlwt (Debian
# python3-xlwt) and listing.xlsx with the zipfile module, in the exchange's column layout.
# Run it from this folder with Debian's python3; the files are kept in git.
import zipfile
import xlwt

HEADER = ["日付", "コード", "銘柄名", "市場・商品区分", "33業種コード", "33業種区分",
          "17業種コード", "17業種区分", "規模コード", "規模区分"]

# Today's market: numeric codes as number cells, letter codes as text cells.
TODAY = [
    [20260130, 1301, "極洋", "プライム（内国株式）", 50, "水産・農林業", 1, "食品", 7, "TOPIX Small 2"],
    [20260130, "130A", "髙島テスト", "グロース（内国株式）", 5250, "情報・通信業", 10, "情報通信・サービスその他", "-", "-"],
    [20260130, 1306, "ＮＥＸＴ ＦＵＮＤＳ ＴＯＰＩＸ連動型", "ETF・ETN", "-", "-", "-", "-", "-", "-"],
    [20260130, 8951, "日本ビルファンド投資法人", "REIT・ベンチャーファンド・カントリーファンド・インフラファンド", "-", "-", "-", "-", "-", "-"],
    [20260130, 9176, "プロ銘柄", "PRO Market", 9050, "サービス業", "-", "-", "-", "-"],
    [20260130, 8421, "信金中央金庫", "出資証券", "-", "-", "-", "-", "-", "-"],
    [20260130, 2593, "伊藤園 & Co", "プライム（内国株式）", 3050, "食料品", 1, "食品", 4, "TOPIX Mid400"],
    [20260130, 25935, "伊藤園第1種優先株式", "プライム（内国株式）", 3050, "食料品", "-", "-", "-", "-"],
    [20260130, 4023, "クレハ", "スタンダード（外国株式）", 3200, "化学", 4, "素材・化学", 7, "TOPIX Small 2"],
]

# Before 2022.
OLD = [
    [20211230, 1301, "極洋", "市場第一部（内国株）", 50, "水産・農林業"],
    [20211230, 2333, "旧ジャスダック", "JASDAQ(スタンダード・内国株）", 9050, "サービス業"],
    [20211230, 7203, "トヨタ自動車", "市場第一部（内国株）", 3700, "輸送用機器"],
    [20211230, 4385, "メルカリ", "マザーズ（内国株）", 5250, "情報・通信業"],
]


def write_xls():
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("Sheet1")
    for c, caption in enumerate(HEADER):
        sheet.write(0, c, caption)
    for r, row in enumerate(TODAY, start=1):
        for c, value in enumerate(row):
            sheet.write(r, c, value)
    book.save("listing.xls")


def column(c):
    return chr(ord("A") + c)


def write_xlsx():
    strings = []

    def shared(text):
        if text not in strings:
            strings.append(text)
        return strings.index(text)

    rows = []
    for r, row in enumerate([HEADER[:6]] + OLD, start=1):
        cells = []
        for c, value in enumerate(row):
            ref = f"{column(c)}{r}"
            if isinstance(value, int):
                cells.append(f'<c r="{ref}"><v>{value}</v></c>')
            elif r == 3 and c == 2:
                # An inline string, as some writers use.
                cells.append(f'<c r="{ref}" t="inlineStr"><is><t>{value}</t></is></c>')
            else:
                cells.append(f'<c r="{ref}" t="s"><v>{shared(value)}</v></c>')
        rows.append(f'<row r="{r}">{"".join(cells)}</row>')
    # A row whose code cell is missing is no stock; a row with a skipped cell keeps its columns.
    rows.append('<row r="9"><c r="C9" t="s"><v>%d</v></c></row>' % shared("注記"))
    sheet = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
             '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
             f'<sheetData>{"".join(rows)}</sheetData></worksheet>')
    items = []
    for text in strings:
        if text == "トヨタ自動車":
            # A phonetic guide, as Japanese spreadsheets carry, is no part of the text.
            items.append('<si><r><t>トヨタ</t></r><r><t>自動車</t></r>'
                         '<rPh sb="0" eb="3"><t>ジドウシャ</t></rPh></si>')
        else:
            items.append(f"<si><t>{text}</t></si>")
    sst = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
           '<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
           f'{"".join(items)}</sst>')
    workbook = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
                '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
                'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
                '<sheets><sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets></workbook>')
    rels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" '
            'Target="worksheets/data.xml"/></Relationships>')
    types = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
             '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
             '<Default Extension="xml" ContentType="application/xml"/></Types>')
    with zipfile.ZipFile("listing.xlsx", "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in [("[Content_Types].xml", types), ("xl/workbook.xml", workbook),
                           ("xl/_rels/workbook.xml.rels", rels), ("xl/worksheets/data.xml", sheet),
                           ("xl/sharedStrings.xml", sst)]:
            info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, text.encode("utf-8"))


write_xls()
write_xlsx()
