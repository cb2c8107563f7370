#!/usr/bin/env bash
# Generates a test site for the benchmarks: gen_site.sh OUT_DIR [PAGES] [SIZE_KB]
#
# OUT_DIR gets PAGES pages (default 2000) of about SIZE_KB KB each (default 40, varying by
# a quarter either way) of varied HTML: headings, paragraphs, lists, tables, links and
# code. Every page holds three include blocks (header, menu, footer) with stale content;
# their include files of a few KB lie in OUT_DIR/includes/. Even-numbered pages end their
# lines with CR+LF, odd-numbered ones with LF. The output depends only on the arguments.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 3 ]; then
    echo "usage: $0 OUT_DIR [PAGES] [SIZE_KB]" >&2
    exit 2
fi
out="$1"
pages="${2:-2000}"
size_kb="${3:-40}"
mkdir -p "$out/includes"

LC_ALL=C awk -v out="$out" -v pages="$pages" -v size_kb="$size_kb" '
function word() { return words[int(rand() * nwords) + 1] }
function sentence(   n, s, i) {
    n = 6 + int(rand() * 14)
    s = word()
    s = toupper(substr(s, 1, 1)) substr(s, 2)
    for (i = 2; i <= n; i++) {
        if (rand() < 0.06)
            s = s " <a href=\"/" word() "/" word() ".html\">" word() " " word() "</a>"
        else if (rand() < 0.04)
            s = s " <code>" word() "_" word() "()</code>"
        else if (rand() < 0.04)
            s = s " <em>" word() "</em>"
        else
            s = s " " word()
    }
    return s "."
}
function paragraph(   n, s, i) {
    n = 2 + int(rand() * 6)
    s = "<p>" sentence()
    for (i = 2; i <= n; i++) s = s " " sentence()
    return s "</p>"
}
# Writes one piece of body content; returns its size in bytes.
function piece(file, eol,   kind, text, i, n, size) {
    kind = rand()
    if (kind < 0.12) {
        n = 2 + int(rand() * 3)
        text = "<h" n " id=\"" word() "-" int(rand() * 1000) "\">" sentence() "</h" n ">"
        printf "%s%s", text, eol > file
        return length(text) + length(eol)
    }
    if (kind < 0.70) {
        # Long paragraphs are wrapped, as editors and generators do.
        text = paragraph()
        size = 0
        while (length(text) > 100) {
            i = 90 + int(rand() * 30)
            while (i < length(text) && substr(text, i, 1) != " ") i++
            printf "%s%s", substr(text, 1, i - 1), eol > file
            size += i - 1 + length(eol)
            text = substr(text, i + 1)
        }
        printf "%s%s", text, eol > file
        return size + length(text) + length(eol)
    }
    if (kind < 0.82) {
        n = 3 + int(rand() * 8)
        printf "<ul class=\"%s\">%s", word(), eol > file
        size = 16 + length(eol)
        for (i = 1; i <= n; i++) {
            text = "  <li><a href=\"" word() ".html\">" sentence() "</a></li>"
            printf "%s%s", text, eol > file
            size += length(text) + length(eol)
        }
        printf "</ul>%s", eol > file
        return size + 5 + length(eol)
    }
    if (kind < 0.92) {
        n = 3 + int(rand() * 10)
        printf "<table>%s<tr><th>%s</th><th>%s</th><th>%s</th></tr>%s", eol, word(), word(), word(), eol > file
        size = 60
        for (i = 1; i <= n; i++) {
            text = "<tr><td>" word() "</td><td>" int(rand() * 100000) "</td><td>" sentence() "</td></tr>"
            printf "%s%s", text, eol > file
            size += length(text) + length(eol)
        }
        printf "</table>%s", eol > file
        return size + 8 + length(eol)
    }
    n = 4 + int(rand() * 12)
    printf "<pre><code>%s", eol > file
    size = 11 + length(eol)
    for (i = 1; i <= n; i++) {
        text = sprintf("%*s%s = %s(%s, %d);", int(rand() * 4) * 4, "", word(), word(), word(), int(rand() * 100))
        printf "%s%s", text, eol > file
        size += length(text) + length(eol)
    }
    printf "</code></pre>%s", eol > file
    return size + 13 + length(eol)
}
function stale_block(file, eol, name,   i, n) {
    printf "<reririduruv=includes/%s.inc>%s", name, eol > file
    n = 2 + int(rand() * 6)
    for (i = 1; i <= n; i++) printf "<!-- stale %s, %s -->%s", name, sentence(), eol > file
    printf "</reririduruv>%s", eol > file
}
function include_file(name, kb,   file, size, text) {
    file = out "/includes/" name ".inc"
    printf "<div class=\"%s\">\n", name > file
    size = 0
    while (size < kb * 1024) {
        text = "  <a href=\"/" word() "/" word() ".html\" title=\"" sentence() "\">" word() "</a>"
        print text > file
        size += length(text) + 1
    }
    print "</div>" > file
    close(file)
}
BEGIN {
    srand(20240611)
    nwords = split("the of and to in is was it for on are as with his they at be this from " \
        "have or by one had not but what all were when we there can an your which their said " \
        "if do will each about how up out them then she many some so these would other into " \
        "has more her two like him see time could no make than first been its who now people " \
        "my made over did down only way find use may water long little very after words called " \
        "just where most know get through back much before go good new write our used me man " \
        "too any day same right look think also around another came come work three word must " \
        "because does part even place well such here take why things help put years different " \
        "away again off went old number great tell men say small every found still between name " \
        "should home big give air line set own under read last never us left end along while " \
        "might next sound below saw something thought both few those always looked show large " \
        "often together asked house world going want school important until form food keep " \
        "children feet land side without boy once animals life enough took sometimes four head " \
        "above kind began almost live page got earth need far hand high year mother light parts " \
        "country father let night following picture being study second eyes soon times story " \
        "boys since white days ever paper hard near sentence better best across during today " \
        "others however sure means knew its try told young miles sun ways thing whole hear " \
        "example heard several change answer room sea against top turned learn point city play " \
        "toward five using himself usually caf\303\251 na\303\257ve \344\270\255\346\226\207 " \
        "r\303\251sum\303\251 \316\261\316\262\316\263", words, " ")
    include_file("header", 3)
    include_file("menu", 4)
    include_file("footer", 2)
    for (p = 1; p <= pages; p++) {
        file = sprintf("%s/page%05d.%s", out, p, (p % 10 == 0) ? "shtml" : "html")
        eol = (p % 2 == 0) ? "\r\n" : "\n"
        target = size_kb * 1024 * (0.75 + rand() * 0.5)
        printf "<!DOCTYPE html>%s<html lang=\"en\">%s<head>%s<meta charset=\"utf-8\">%s", eol, eol, eol, eol > file
        printf "<title>%s</title>%s", sentence(), eol > file
        stale_block(file, eol, "header")
        printf "</head>%s<body>%s<nav>", eol, eol > file
        stale_block(file, eol, "menu")
        printf "</nav>%s<main>%s", eol, eol > file
        size = 400
        while (size < target) size += piece(file, eol)
        printf "</main>%s<footer>", eol > file
        stale_block(file, eol, "footer")
        printf "</footer>%s</body>%s</html>%s", eol, eol, eol > file
        close(file)
    }
}'
