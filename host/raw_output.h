#pragma once

// What a module's code writes straight to descriptors 1 and 2, bypassing the streams that the
// runtime redirects: write(1, ...), the output of a child process (system("ls")), the C
// library's own messages (a double free it detected). While a call runs, both descriptors lead
// into a pipe; a thread of Vornak's reads it and hands the text to the output pane, in the order
// it arrives. Its place among what the streams print is as near as the reading allows.
class RawOutputCapture {
public:
    // Points descriptors 1 and 2 at the pipe (a reading thread is started on first use).
    RawOutputCapture();
    ~RawOutputCapture();
    RawOutputCapture(const RawOutputCapture&) = delete;
    RawOutputCapture& operator=(const RawOutputCapture&) = delete;

    // Waits a little until what was written has been read, and puts the descriptors back. Call
    // it once the heap can be trusted again; the destructor does it otherwise.
    void Finish();

private:
    int saved_[2] = {-1, -1};
    bool finished_ = false;
};
