#include "output_menu.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>

namespace {

// Serves the context menu events that reach the pane's viewport.
class OutputMenu : public QObject {
public:
    explicit OutputMenu(QPlainTextEdit* pane) : QObject(pane), pane_(pane)
    {
        pane->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != pane_->viewport() || event->type() != QEvent::ContextMenu)
            return QObject::eventFilter(watched, event);
        const auto* click = static_cast<QContextMenuEvent*>(event);
        QPointer<QMenu> menu = pane_->createStandardContextMenu(click->pos());
        menu->addSeparator();
        QAction* clear = menu->addAction(QStringLiteral("清空"));
        clear->setObjectName(QStringLiteral("clearOutput"));
        clear->setEnabled(!pane_->document()->isEmpty());
        QPlainTextEdit* pane = pane_;
        connect(clear, &QAction::triggered, pane, &QPlainTextEdit::clear);
        menu->exec(click->globalPos());
        delete menu;
        return true;
    }

private:
    QPlainTextEdit* pane_;
};

} // namespace

void AddClearToContextMenu(QPlainTextEdit* pane)
{
    new OutputMenu(pane);
}
