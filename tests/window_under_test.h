#pragma once

// Vornak's main window as a user meets it: shown, and its controls found by their names.

#include "code_editor.h"
#include "main_window.h"
#include "status_line.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

class WindowUnderTest {
protected:
    // False when the window did not show or a control is missing.
    bool OpenWindowOn(const QString& workDir)
    {
        window = std::make_unique<FormMain>(workDir);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            return false;
        txtCode = window->findChild<CodeEditor*>("txtCode");
        txtOut = window->findChild<QPlainTextEdit*>("txtOut");
        txtFunc = window->findChild<QLineEdit*>("txtFunc");
        cmdRun = window->findChild<QPushButton*>("cmdRun");
        lalStat = window->findChild<StatusLine*>("lalStat");
        return txtCode && txtOut && txtFunc && cmdRun && lalStat;
    }

    std::unique_ptr<FormMain> window;
    CodeEditor* txtCode = nullptr;
    QPlainTextEdit* txtOut = nullptr;
    QLineEdit* txtFunc = nullptr;
    QPushButton* cmdRun = nullptr;
    StatusLine* lalStat = nullptr;
};
