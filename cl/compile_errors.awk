# Turns g++'s or clang's diagnostics (one per line, no caret lines) into the lines of
# "ret.txt": the source file's name, then one line per error in the compiler's order.
#
# An error is reported at the line of T.cpp that caused it, as "T.cpp(L) : error: message",
# the form Vornak takes a line number from. An error inside a header counts for the user's
# line that led to it: g++'s instantiation context before it ("required from"), a note after
# it (g++'s "in expansion of macro" and "required from here", clang's "in instantiation of
# ... requested here"), or the line that included the header.
# An error with no user line behind it keeps g++'s "file:line:col: error: message", which
# Vornak shows as it is without claiming any line. Lines 1 and 2 of T.cpp are the two fixed
# include lines, so errors there are not the user's.
#
# Each line is written as one quoted field; a double quote inside becomes a single one.
#
# An error whose offending token is spelt in the body of a macro of T.cpp is reported at that
# line of the #define (clang reports it at the use, its first note names the body); one in a
# macro's argument stays at the use.
#
# With "-v all=1" it writes every diagnostic instead, errors and warnings, in the same form
# ("T.cpp(L) : warning: message"), each followed by its notes and instantiation context as
# "T.cpp(L) : note: text" or "file[line] : note: text": the lines of "diag.txt".

BEGIN {
    source = "T.cpp"
    printf "%s\r\n", source
    written = 0
    pending = 0
    context = 0
    chainPending = 0
}

function write(text) {
    gsub(/"/, "'", text)
    printf "\"%s\"\r\n", text
    written++
}

function userLine(file, line) {
    return (file == source && line >= 3) ? line : 0
}

# Splits "file:line:col: rest", "file:line: rest" or "file: rest" into file, line, head
# (everything before rest) and rest. False for any other line.
function parse(text) {
    if (!match(text, /^[^ :][^:]*:[0-9]+:[0-9]+: /) &&
        !match(text, /^[^ :][^:]*:[0-9]+: /) &&
        !match(text, /^[^ :][^:]*: /))
        return 0
    head = substr(text, 1, RLENGTH - 2)
    rest = substr(text, RLENGTH + 1)
    split(head, piece, ":")
    file = piece[1]
    line = piece[2] + 0
    return 1
}

# One "file:line[:col]" entry of an include chain ("In file included from a.h:3, b.h:7:").
function chainEntry(text,   where) {
    sub(/[,:]$/, "", text)
    if (!match(text, /:[0-9]+(:[0-9]+)?$/))
        return
    where = substr(text, 1, RSTART - 1)
    chainFiles[++chainCount] = where
    if (where == source)
        chainLine = userLine(where, substr(text, RSTART + 1) + 0)
}

function endChain(nextFile,   i) {
    for (i = 1; i <= chainCount; i++)
        if (chainFiles[i] != source)
            includedFrom[chainFiles[i]] = chainLine
    if (nextFile != "")
        includedFrom[nextFile] = chainLine
    chainPending = 0
}

function where(theHead, theLine, theFile,   shown) {
    if (userLine(theFile, theLine))
        return source "(" theLine ")"
    # Brackets in the file name would be taken for a line number.
    shown = theHead
    gsub(/\)/, "]", shown)
    gsub(/\(/, "[", shown)
    return shown
}

function addNote(text) {
    if (pendingNotes < 100)
        notes[++pendingNotes] = where(head, line, file) " : note: " text
}

function flush(   at, shown, i) {
    if (!pending) {
        if (!all)
            return
        # Context that no diagnostic followed.
        pendingNotes = 0
        return
    }
    at = errorMacro ? errorMacro : errorAt
    if (!at)
        at = errorNote
    if (!at)
        at = errorIncluded
    # clang names an instantiation context only once for the errors that share it.
    if (!at && errorInHeader)
        at = lastInstantiation
    if (at) {
        write(source "(" at ") : " errorKind ": " errorText)
    } else {
        # Brackets in the file name would be taken for a line number.
        shown = errorHead
        gsub(/\)/, "]", shown)
        gsub(/\(/, "[", shown)
        write(shown ": " errorKind ": " errorText)
    }
    if (all)
        for (i = 1; i <= pendingNotes; i++)
            write(notes[i])
    pending = 0
    pendingNotes = 0
}

# An "In file included from" line or g++'s "from" line that continues it: noted, true.
function includeChainLine(   text) {
    # g++ continues a chain with "from" lines, clang with more "In file included from" lines.
    if ($0 ~ /^In file included from /) {
        if (!chainPending) {
            chainCount = 0
            chainLine = 0
            chainPending = 1
        }
        chainEntry(substr($0, 23))
        return 1
    }
    if (chainPending && $0 ~ /^ +from /) {
        text = $0
        sub(/^ +from /, "", text)
        chainEntry(text)
        return 1
    }
    return 0
}

# The assembler's own failure ("Fatal error: can't create T.o: Is a directory", or a full
# disk): what the compile could not write, rather than its heading "Assembler messages:".
function assemblerFailure() {
    if ($0 !~ /(^|: )Fatal error: /)
        return 0
    if (assembler == "") {
        assembler = $0
        sub(/^.*Fatal error: /, "", assembler)
    }
    return 1
}

# An error (or with all=1 a warning) begins: the one before is written first.
function startDiagnostic() {
    # g++ writes an instantiation context before its diagnostic: it becomes its notes.
    if (pending)
        flush()
    pending = 1
    errorHead = head
    if (rest ~ /^sorry/) {
        errorKind = "error"
        errorText = rest
    } else {
        errorKind = rest
        sub(/: .*/, "", errorKind)
        errorText = substr(rest, length(errorKind) + 3)
    }
    errorAt = userLine(file, line)
    if (!errorAt)
        errorAt = context
    errorNote = 0
    errorMacro = 0
    noteCount = 0
    errorInHeader = file != source
    errorIncluded = (file in includedFrom) ? includedFrom[file] : 0
}

# A note: the macro body, the instantiation or the expansion that leads to the user's line.
function noteLine() {
    if (pending && ++noteCount == 1 && rest ~ /^note: +expanded from macro /)
        errorMacro = userLine(file, line)
    if (all)
        addNote(substr(rest, 7))
    if (pending && !errorNote && rest ~ /^note: +(in expansion of macro|in instantiation of )/)
        errorNote = userLine(file, line)
    if (rest ~ /^note: +in instantiation of / && userLine(file, line))
        lastInstantiation = userLine(file, line)
}

# g++'s instantiation context: "required from ...", "required from here", ...
function contextLine(   text) {
    if (all) {
        text = rest
        sub(/^ +/, "", text)
        addNote(text)
    }
    if (pending && !errorNote)
        errorNote = userLine(file, line)
    if (!context)
        context = userLine(file, line)
}

# A new function or instantiation: the context of the errors that follow.
function newScope() {
    flush()
    context = 0
    if (all && rest ~ /^In instantiation of /)
        addNote(rest)
}

{
    sub(/\r$/, "")
    if (firstLine == "" && $0 != "")
        firstLine = $0
    if (includeChainLine() || assemblerFailure())
        next
    if (!parse($0)) {
        if (chainPending)
            endChain("")
        next
    }
    if (chainPending)
        endChain(file)

    # g++ says so when it cannot use the precompiled header: the scripts' business, not the user's.
    if (rest ~ /^warning: / && rest ~ /\[-Winvalid-pch\]$/)
        next
    if (rest ~ /^(fatal error|error|internal compiler error|sorry, unimplemented): / ||
        (all && rest ~ /^warning: /))
        startDiagnostic()
    else if (rest ~ /^warning: /)
        flush()
    else if (rest ~ /^note: /)
        noteLine()
    else if (rest ~ /^ /)
        contextLine()
    else if (rest ~ /^(In |At global scope)/)
        newScope()
}

END {
    flush()
    if (all)
        exit
    if (!written && assembler != "")
        write("cannot write T.o: " assembler)
    if (!written)
        write(firstLine != "" ? firstLine : "g++ failed without giving a reason")
}
