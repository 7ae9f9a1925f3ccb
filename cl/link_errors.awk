# Turns the linker's messages into the lines of "ret.txt". The first line is the one Vornak
# shows: the first undefined reference, as "undefined reference to 'f()' (in Demo1())", or
# else the first error. The linker's own lines from there on follow it.
# Each line is written as one quoted field; double quotes and backquotes become single quotes.

function write(text) {
    gsub(/[`"]/, "'", text)
    printf "\"%s\"\r\n", text
}

# What stands between the first opening quote (` or ') from start on and the quote at the end.
function quoted(text, start,   t) {
    t = substr(text, start)
    sub(/^[^`']*[`']/, "", t)
    sub(/':?$/, "", t)
    return t
}

{
    sub(/\r$/, "")
    text = $0
    # Several threads of one linker may share a line: "a.o:(f())>>> referenced by a.cpp".
    while ((at = index(substr(text, 2), ">>>")) > 0) {
        lines[++count] = substr(text, 1, at)
        text = substr(text, at + 1)
    }
    lines[++count] = text
}

END {
    first = 0
    for (i = 1; i <= count && !first; i++)
        if (lines[i] ~ /undefined (reference to|symbol)/)
            first = i
    for (i = 1; i <= count && !first; i++)
        if (lines[i] ~ /error/ && lines[i] !~ /^collect2: error: ld returned/)
            first = i
    for (i = 1; i <= count && !first; i++)
        if (lines[i] != "")
            first = i
    if (!first) {
        write("the linker failed without giving a reason")
        exit
    }

    line = lines[first]
    symbol = ""
    where = ""
    if (match(line, /undefined symbol: /)) {
        # lld and mold: the symbol, then ">>> referenced by" lines with "file.o:(function)".
        symbol = substr(line, RSTART + RLENGTH)
        for (i = first + 1; i <= count && lines[i] ~ /^>>>/ && where == ""; i++)
            if (match(lines[i], /:\(.*\)$/))
                where = substr(lines[i], RSTART + 2, RLENGTH - 3)
    } else if (match(line, /undefined reference to /)) {
        # ld.bfd: "in function `f()':" on the line before; gold: "function f(): error: ...".
        symbol = quoted(line, RSTART)
        if (match(line, /:function .*: error: /))
            where = substr(line, RSTART + 10, RLENGTH - 19)
        else if (first > 1 && match(lines[first - 1], /in function .*$/))
            where = quoted(lines[first - 1], RSTART)
    }
    if (symbol != "")
        write("undefined reference to '" symbol "'" (where != "" ? " (in " where ")" : ""))
    else
        write(line)
    for (i = first + 1; i <= count; i++)
        write(lines[i])
}
