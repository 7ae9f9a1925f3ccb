#pragma once

#include <QString>
#include <QStringView>

// Keeps what one call of a module's code shows in the output pane within bounds, so that a
// call printing without end neither fills the memory nor keeps the window busy long after it
// was stopped: at most kMaxLines lines and kMaxChars characters a call, and at most
// kMaxLineLength characters of any one line. What is left out is counted and said in a note.
// Text arrives with LF line breaks.
class OutputLimit {
public:
    static constexpr qsizetype kMaxLines = 250'000;
    static constexpr qsizetype kMaxChars = 32 * 1024 * 1024;
    static constexpr qsizetype kMaxLineLength = 10'000;

    // The part of text to show, notes of lines cut short included.
    QString Admit(QStringView text);
    // Whether everything from now on until the next call is left out.
    bool Full() const { return full_; }
    // Counts text as left out; for a caller that knows the limit is full.
    void Omit(qsizetype lineBreaks, bool endsInsideALine);
    // The notes still owed for what was left out; called when a call ends and when the next
    // begins (text from the call's threads may come in between).
    QString Finish();
    // A new call: its own allowance. The line the pane ends in goes on.
    void Reset();

private:
    QString LineCutNote();

    qsizetype lines_ = 0;
    qsizetype chars_ = 0;
    qsizetype lineLength_ = 0;
    qsizetype cutChars_ = 0; // of the current line
    bool full_ = false;
    qsizetype omittedLines_ = 0;
    bool omittedTail_ = false; // text after the last omitted line break
};
