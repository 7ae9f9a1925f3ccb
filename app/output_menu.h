#pragma once

class QPlainTextEdit;

// The output pane's context menu: the standard one of a text box, and 清空, which empties the
// pane (the only way Vornak clears it, on the user's command).
void AddClearToContextMenu(QPlainTextEdit* pane);
