#pragma once

class QLineEdit;
class QPushButton;
class QWidget;

// F5 and Ctrl+Enter anywhere in the window, and Enter in the function name box, click the Run
// button: a key does exactly what the click does. The button's tooltip names the keys.
void AttachRunKeys(QWidget* window, QLineEdit* nameBox, QPushButton* runButton);
