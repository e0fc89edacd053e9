#include "ui/message_box.h"

#include <utility>

#include <QCoreApplication>
#include <QMessageBox>
#include <QWidget>

namespace {

std::function<void(const MessageBox::Shown&)>& Handler()
{
    static std::function<void(const MessageBox::Shown&)> handler;
    return handler;
}

} // namespace

void MessageBox::Show(QWidget* owner, const QString& text, Icon icon)
{
    const QString caption = QCoreApplication::applicationName();
    if (const auto& handler = Handler()) {
        handler({text, caption, icon, owner != nullptr && owner->isVisible()});
        return;
    }
    // Shown without a nested event loop: while it waits for OK, the relay's ticks and every socket
    // go on. It goes when it is answered, or with its owner.
    auto* box = new QMessageBox(owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(caption);
    box->setTextFormat(Qt::PlainText); // error texts come from outside and may hold '<'
    box->setText(text);
    box->setIcon(icon == Icon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon);
    box->setStandardButtons(QMessageBox::Ok);
    box->open();
}

void MessageBox::SetHandler(std::function<void(const Shown&)> handler)
{
    Handler() = std::move(handler);
}
