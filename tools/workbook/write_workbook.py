#!/usr/bin/env python3
"""Writes a workbook without LibreOffice, as another program would store it.

The tests use it to check what the spreadsheet layer reads from files that
our office did not write. Usage:

    write_workbook.py DESCRIPTION.json OUTPUT.(xlsx|ods|fods)

The description is {"date1904": bool, "sheets": [{"name": str, "rows": [[cell]]}]};
row 1 of a sheet is its first list. A cell is one of
    null                          no cell at all
    "text"                        text (also of length zero)
    1.5                           a number
    true / false                  a Boolean
    {"number": 5, "format": "\"TRUE\";\"TRUE\";\"FALSE\""}   a number with a display format
                                  (OpenDocument: always the Boolean data style)
    {"date": 45000.5}             a date, given as days since the workbook's base date
    {"formula": "1=1", "boolean": true} / {"formula": "2+3", "number": 5} /
    {"formula": "\"\"", "text": ""}
                                  a formula (Excel syntax, no references) with
                                  the result the writer stored
An OpenDocument workbook whose description has "openpgp_signed": true also
carries META-INF/documentsignatures.xml: a signature (not a valid one) whose
key info is an OpenPGP public key, as a document signed with a PGP key from
someone else arrives. Opening it makes LibreOffice check the signature with
gpg and import the key.
Only the Python standard library is used.
"""
import json
import sys
import zipfile
from xml.sax.saxutils import escape, quoteattr

DATE_FORMAT = "yyyy/mm/dd"


def column_name(index):
    name = ""
    index += 1
    while index:
        index, rest = divmod(index - 1, 26)
        name = chr(65 + rest) + name
    return name


# ---- Office Open XML (.xlsx) ----

def xlsx_formats(sheets):
    """Custom number format codes in use, in order of first use."""
    codes = []
    for sheet in sheets:
        for row in sheet["rows"]:
            for cell in row:
                if isinstance(cell, dict):
                    code = cell.get("format") or (DATE_FORMAT if "date" in cell else None)
                    if code and code not in codes:
                        codes.append(code)
    return codes


def xlsx_cell(ref, cell, style_of):
    if cell is None:
        return ""
    if isinstance(cell, bool):
        return '<c r="%s" t="b"><v>%d</v></c>' % (ref, cell)
    if isinstance(cell, (int, float)):
        return '<c r="%s"><v>%r</v></c>' % (ref, float(cell))
    if isinstance(cell, str):
        # Inline text keeps the writer free of a shared string table; a
        # zero-length text is a text cell with an empty <t>.
        return '<c r="%s" t="inlineStr"><is><t xml:space="preserve">%s</t></is></c>' % (ref, escape(cell))
    if "formula" in cell:
        formula = escape(cell["formula"])
        if "boolean" in cell:
            return '<c r="%s" t="b"><f>%s</f><v>%d</v></c>' % (ref, formula, cell["boolean"])
        if "text" in cell:
            return '<c r="%s" t="str"><f>%s</f><v>%s</v></c>' % (ref, formula, escape(cell["text"]))
        return '<c r="%s"><f>%s</f><v>%r</v></c>' % (ref, formula, float(cell["number"]))
    if "date" in cell:
        return '<c r="%s" s="%d"><v>%r</v></c>' % (ref, style_of[DATE_FORMAT], float(cell["date"]))
    return '<c r="%s" s="%d"><v>%r</v></c>' % (ref, style_of[cell["format"]], float(cell["number"]))


def write_xlsx(book, path):
    sheets = book["sheets"]
    codes = xlsx_formats(sheets)
    style_of = {code: i + 1 for i, code in enumerate(codes)}  # style 0 is General
    ns = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
    rel_ns = 'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"'
    pkg_rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
    files = {}
    overrides = ['<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>',
                 '<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>']
    book_rels = ['<Relationship Id="rIdStyles" Type="%s/styles" Target="styles.xml"/>' % pkg_rel]
    sheet_entries = []
    for n, sheet in enumerate(sheets, 1):
        rows = []
        for r, row in enumerate(sheet["rows"], 1):
            cells = "".join(xlsx_cell("%s%d" % (column_name(c), r), cell, style_of) for c, cell in enumerate(row))
            rows.append('<row r="%d">%s</row>' % (r, cells))
        files["xl/worksheets/sheet%d.xml" % n] = (
            '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            '<worksheet %s><sheetData>%s</sheetData></worksheet>' % (ns, "".join(rows)))
        overrides.append('<Override PartName="/xl/worksheets/sheet%d.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>' % n)
        book_rels.append('<Relationship Id="rId%d" Type="%s/worksheet" Target="worksheets/sheet%d.xml"/>' % (n, pkg_rel, n))
        sheet_entries.append('<sheet name=%s sheetId="%d" r:id="rId%d"/>' % (quoteattr(sheet["name"]), n, n))
    num_fmts = "".join('<numFmt numFmtId="%d" formatCode=%s/>' % (164 + i, quoteattr(code)) for i, code in enumerate(codes))
    xfs = '<xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>' + "".join(
        '<xf numFmtId="%d" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>' % (164 + i) for i in range(len(codes)))
    files["xl/styles.xml"] = (
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
        '<styleSheet %s><numFmts count="%d">%s</numFmts>'
        '<fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts>'
        '<fills count="1"><fill><patternFill patternType="none"/></fill></fills>'
        '<borders count="1"><border/></borders>'
        '<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>'
        '<cellXfs count="%d">%s</cellXfs></styleSheet>' % (ns, len(codes), num_fmts, len(codes) + 1, xfs))
    files["xl/workbook.xml"] = (
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
        '<workbook %s %s><workbookPr%s/><sheets>%s</sheets></workbook>'
        % (ns, rel_ns, ' date1904="1"' if book.get("date1904") else "", "".join(sheet_entries)))
    files["xl/_rels/workbook.xml.rels"] = (
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
        '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">%s</Relationships>'
        % "".join(book_rels))
    files["_rels/.rels"] = (
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
        '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Id="rId1" Type="%s/officeDocument" Target="xl/workbook.xml"/></Relationships>' % pkg_rel)
    files["[Content_Types].xml"] = (
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
        '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>%s</Types>' % "".join(overrides))
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", files.pop("[Content_Types].xml"))
        for name, text in files.items():
            z.writestr(name, text)


# ---- OpenDocument spreadsheet (.ods, flat .fods) ----

ODF_NS = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
          'xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" '
          'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
          'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
          'xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0" '
          'xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2" office:version="1.2"')


def ods_date(days, date1904):
    """The ISO date-time of a serial counted from the workbook's base date."""
    import datetime
    base = datetime.datetime(1904, 1, 1) if date1904 else datetime.datetime(1899, 12, 30)
    moment = base + datetime.timedelta(days=days)
    return moment.strftime("%Y-%m-%dT%H:%M:%S")


def ods_formula(formula):
    """OpenFormula separates arguments with ';' (references are not translated)."""
    out, quoted = [], False
    for c in formula:
        if c == '"':
            quoted = not quoted
        out.append(";" if c == "," and not quoted else c)
    return "of:=" + "".join(out)


def ods_cell(cell, date1904):
    if cell is None:
        return "<table:table-cell/>"
    if isinstance(cell, bool):
        return ('<table:table-cell office:value-type="boolean" office:boolean-value="%s"><text:p>%s</text:p></table:table-cell>'
                % (str(cell).lower(), str(cell).upper()))
    if isinstance(cell, (int, float)):
        return '<table:table-cell office:value-type="float" office:value="%r"><text:p>%r</text:p></table:table-cell>' % (float(cell), cell)
    if isinstance(cell, str):
        # A text cell whose paragraph is empty: zero-length text.
        return '<table:table-cell office:value-type="string"><text:p>%s</text:p></table:table-cell>' % escape(cell)
    if "formula" in cell:
        formula = quoteattr(ods_formula(cell["formula"]))
        if "boolean" in cell:
            return ('<table:table-cell table:formula=%s office:value-type="boolean" office:boolean-value="%s"><text:p>%s</text:p></table:table-cell>'
                    % (formula, str(cell["boolean"]).lower(), str(cell["boolean"]).upper()))
        if "text" in cell:
            return ('<table:table-cell table:formula=%s office:value-type="string" office:string-value=%s><text:p>%s</text:p></table:table-cell>'
                    % (formula, quoteattr(cell["text"]), escape(cell["text"])))
        return ('<table:table-cell table:formula=%s office:value-type="float" office:value="%r"><text:p/></table:table-cell>'
                % (formula, float(cell["number"])))
    if "date" in cell:
        return ('<table:table-cell table:style-name="date" office:value-type="date" office:date-value="%s"><text:p/></table:table-cell>'
                % ods_date(cell["date"], date1904))
    # A number with a display format: the format is the cell style's data
    # style; the stored value type stays float.
    return ('<table:table-cell table:style-name="logical" office:value-type="float" office:value="%r"><text:p/></table:table-cell>'
            % float(cell["number"]))


def ods_body(book):
    date1904 = bool(book.get("date1904"))
    tables = []
    for sheet in book["sheets"]:
        rows = "".join("<table:table-row>%s</table:table-row>" % "".join(ods_cell(c, date1904) for c in row)
                       for row in sheet["rows"])
        tables.append('<table:table table:name=%s><table:table-column table:number-columns-repeated="8"/>%s</table:table>'
                      % (quoteattr(sheet["name"]), rows))
    settings = ('<table:calculation-settings><table:null-date table:date-value="1904-01-01"/></table:calculation-settings>'
                if date1904 else "")
    styles = ('<office:automatic-styles>'
              '<number:date-style style:name="D1"><number:year number:style="long"/><number:text>/</number:text>'
              '<number:month number:style="long"/><number:text>/</number:text><number:day number:style="long"/></number:date-style>'
              '<number:boolean-style style:name="B1"><number:boolean/></number:boolean-style>'
              '<style:style style:name="date" style:family="table-cell" style:data-style-name="D1"/>'
              '<style:style style:name="logical" style:family="table-cell" style:data-style-name="B1"/>'
              '</office:automatic-styles>')
    return styles, '<office:body><office:spreadsheet>%s%s</office:spreadsheet></office:body>' % (settings, "".join(tables))


# The public key of a throw-away ed25519 key pair ("Attacker <a@example.com>"),
# made for these tests; its secret half was never kept.
OPENPGP_KEY_PACKET = (
    "mDMEaxbV4xYJKwYBBAHaRw8BAQdAxBRX6u/CjfELhQL4hPw0xevoIygiRWd6/pOnsfLwp3y0GEF0dGFja2VyIDxhQGV4YW1wbGUuY29t"
    "PoiQBBMWCAA4FiEE8FRmsZHhMt0y1DX5q4SI8B0VxCgFAmsW1eMCGwMFCwkIBwIGFQoJCAsCBBYCAwECHgECF4AACgkQq4SI8B0VxCiL"
    "7wEAkABp3oNlpHi3B6S83CYzmVMNK0WfbTSMufVe1zI929wA/AkctwXJD93IPwk1yGVw6rBkDsoK/ZmcTfG1mls5NYMF")


def openpgp_signatures():
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<document-signatures xmlns="urn:oasis:names:tc:opendocument:xmlns:digitalsignature:1.0">'
            '<Signature xmlns="http://www.w3.org/2000/09/xmldsig#" Id="ID_1"><SignedInfo>'
            '<CanonicalizationMethod Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/>'
            '<SignatureMethod Algorithm="http://www.w3.org/2000/09/xmldsig#rsa-sha1"/>'
            '<Reference URI="content.xml"><DigestMethod Algorithm="http://www.w3.org/2001/04/xmlenc#sha256"/>'
            '<DigestValue>AAAA</DigestValue></Reference></SignedInfo>'
            '<SignatureValue>eHh4eHh4eHh4eHh4eHh4eA==</SignatureValue>'
            '<KeyInfo><PGPData><PGPKeyID>AQIDBAUGBwg=</PGPKeyID><PGPKeyPacket>%s</PGPKeyPacket></PGPData></KeyInfo>'
            '<Object><SignatureProperties><SignatureProperty Id="idp" Target="#ID_1">'
            '<dc:date xmlns:dc="http://purl.org/dc/elements/1.1/">2024-01-01T00:00:00</dc:date>'
            '</SignatureProperty></SignatureProperties></Object></Signature></document-signatures>' % OPENPGP_KEY_PACKET)


def write_ods(book, path, flat):
    styles, body = ods_body(book)
    mime = "application/vnd.oasis.opendocument.spreadsheet"
    if flat:
        with open(path, "w", encoding="utf-8") as f:
            f.write('<?xml version="1.0" encoding="UTF-8"?>\n<office:document %s office:mimetype="%s">%s%s</office:document>'
                    % (ODF_NS, mime, styles, body))
        return
    content = '<?xml version="1.0" encoding="UTF-8"?>\n<office:document-content %s>%s%s</office:document-content>' % (ODF_NS, styles, body)
    manifest = ('<?xml version="1.0" encoding="UTF-8"?>\n'
                '<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">'
                '<manifest:file-entry manifest:full-path="/" manifest:media-type="%s"/>'
                '<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>'
                '</manifest:manifest>' % mime)
    with zipfile.ZipFile(path, "w") as z:
        z.writestr(zipfile.ZipInfo("mimetype"), mime)  # first and stored, as the format asks
        z.writestr("content.xml", content, zipfile.ZIP_DEFLATED)
        z.writestr("META-INF/manifest.xml", manifest, zipfile.ZIP_DEFLATED)
        if book.get("openpgp_signed"):
            z.writestr("META-INF/documentsignatures.xml", openpgp_signatures(), zipfile.ZIP_DEFLATED)


def main(argv):
    if len(argv) != 3:
        sys.exit("usage: write_workbook.py DESCRIPTION.json OUTPUT.(xlsx|ods|fods)")
    with open(argv[1], encoding="utf-8") as f:
        book = json.load(f)
    out = argv[2]
    if out.endswith(".xlsx"):
        write_xlsx(book, out)
    elif out.endswith(".ods") or out.endswith(".fods"):
        write_ods(book, out, flat=out.endswith(".fods"))
    else:
        sys.exit("write_workbook.py: unknown format: " + out)


if __name__ == "__main__":
    main(sys.argv)
