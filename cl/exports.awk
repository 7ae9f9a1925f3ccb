# Reads "readelf -sW -U hex T.o" and prints the linker options that export each function of the
# global namespace under its plain name as well, so that a user types "Demo1" for
# "void Demo1()" (mangled "_Z5Demo1v"). A name is left alone when a plain symbol has it already
# (an extern "C" function, the runtime's Config) or when it has several overloads of which
# none takes no arguments. Names may be in Chinese: readelf writes each character that is not
# ASCII as its UTF-8 bytes in hex ("<0xe6b58b>"), turned back into bytes here.
#
# Under another code page (GBK) the name must be in its bytes, the symbol stays in UTF-8:
#     readelf ... | awk -v encode=1 -f exports.awk | iconv -c -f UTF-8 -t GBK |
#         awk -v decode=1 -f exports.awk
# The first writes "name symbol" lines with the symbol in hex, which iconv leaves alone; the
# second makes the options from them.

# Takes "<length><identifier>" off the front of rest and returns the identifier.
function take(   length_, identifier) {
    match(rest, /^[0-9]+/)
    length_ = substr(rest, 1, RLENGTH) + 0
    identifier = substr(rest, RLENGTH + 1, length_)
    rest = substr(rest, RLENGTH + 1 + length_)
    return identifier
}

function unhex(text,   out, digits, i) {
    out = ""
    while (match(text, /<0x[0-9a-f]+>/)) {
        out = out substr(text, 1, RSTART - 1)
        digits = substr(text, RSTART + 3, RLENGTH - 4)
        for (i = 1; i < length(digits); i += 2)
            out = out sprintf("%c", hexDigit[substr(digits, i, 1)] * 16 + hexDigit[substr(digits, i + 1, 1)])
        text = substr(text, RSTART + RLENGTH)
    }
    return out text
}

function hex(text,   out, i, c) {
    out = ""
    for (i = 1; i <= length(text); i++) {
        c = substr(text, i, 1)
        out = out ((c in byteValue) ? sprintf("<0x%02x>", byteValue[c]) : c)
    }
    return out
}

# One option for g++'s response file: in double quotes, with a backslash before every backslash
# and double quote (a byte 0x5C can end a character of GBK). Byte by byte: the awk that decodes
# runs in the C locale.
function option(name, symbol,    text, quoted, i, c) {
    text = "-Wl,--defsym," name "=" symbol
    quoted = "\""
    for (i = 1; i <= length(text); i++) {
        c = substr(text, i, 1)
        if (c == "\\" || c == "\"")
            quoted = quoted "\\"
        quoted = quoted c
    }
    return quoted "\"\n"
}

function export(name, symbol) {
    if (encode)
        printf "%s %s\n", name, hex(symbol)
    else
        printf "%s", option(name, symbol)
}

BEGIN {
    plain["Config"] = 1
    for (i = 0; i < 16; i++)
        hexDigit[substr("0123456789abcdef", i + 1, 1)] = i
    for (i = 128; i < 256; i++)
        byteValue[sprintf("%c", i)] = i
}

decode {
    if (NF == 2)
        printf "%s", option($1, unhex($2))
    next
}

# Symbol lines: "Num: Value Size Type Bind Vis Ndx Name".
NF >= 8 && ($5 == "GLOBAL" || $5 == "WEAK") && $7 != "UND" {
    symbol = unhex($8)
    if (symbol !~ /^_Z/) {
        plain[symbol] = 1
        next
    }
    # "_Z" and a length: a function outside any namespace or class.
    if (symbol !~ /^_Z[1-9]/ || $4 != "FUNC" || $5 != "GLOBAL")
        next
    rest = substr(symbol, 3)
    name = take()
    while (rest ~ /^B[1-9]/) { # ABI tags, as in "_Z5Demo1B5cxx11v" returning std::string
        rest = substr(rest, 2)
        take()
    }
    if (name !~ /^[A-Za-z_\200-\377][A-Za-z0-9_\200-\377]*$/ || rest ~ /^I/) # I: a template's instance
        next
    if (!(name in count))
        names[++nameCount] = name
    count[name]++
    some[name] = symbol
    if (rest == "v")
        noArguments[name] = symbol
}

END {
    for (i = 1; i <= nameCount; i++) {
        name = names[i]
        if (name in plain)
            continue
        if (name in noArguments)
            export(name, noArguments[name])
        else if (count[name] == 1)
            export(name, some[name])
    }
}
