#include "Module.h"

#include "crash_guard.h"

#include "narrow_text.h"
#include "output_pane.h"

void PrintOut(const char* text)
{
    // Past the call's allowance the text is only counted, not converted.
    if (text && OmitIfFull(QByteArrayView(text))) {
        StopIfAsked();
        return;
    }
    // A null address is the empty text: nothing is added, though the caret still moves to
    // where text would have gone.
    WriteOutput(text ? FromNarrow(QByteArrayView(text)) : QString());
    StopIfAsked();
}
