#include "ui/framework/MessageBox.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <map>

namespace pm::ui {

namespace {

QMessageBox::StandardButton standardOf(int answer) {
    switch (answer) {
        case MessageWord::kOk:
            return QMessageBox::Ok;
        case MessageWord::kCancel:
            return QMessageBox::Cancel;
        case MessageWord::kAbort:
            return QMessageBox::Abort;
        case MessageWord::kRetry:
            return QMessageBox::Retry;
        case MessageWord::kIgnore:
            return QMessageBox::Ignore;
        case MessageWord::kYes:
            return QMessageBox::Yes;
        case MessageWord::kNo:
            return QMessageBox::No;
        default:
            return QMessageBox::Help;
    }
}

}  // namespace

int showMessage(QWidget* parent, MessageMemory& memory, MessageWord message, std::uint32_t flags,
                const QString& text) {
    if (const auto answer = memory.answerWithoutAsking(message, flags)) {
        return *answer;
    }
    static const std::map<MessageWord::Kind, std::pair<const char*, QMessageBox::Icon>> kinds = {
        {MessageWord::Kind::Question, {"Question", QMessageBox::Question}},
        {MessageWord::Kind::Warning, {"Warning", QMessageBox::Warning}},
        {MessageWord::Kind::Error, {"Error", QMessageBox::Critical}},
        {MessageWord::Kind::Info, {"Info", QMessageBox::Information}},
        {MessageWord::Kind::Guide, {"Guide", QMessageBox::Information}},
    };
    const auto kind = kinds.find(message.kind());
    QMessageBox box(parent);
    box.setIcon(kind != kinds.end() ? kind->second.second : QMessageBox::Information);
    box.setWindowTitle(
        QStringLiteral("Pictomove - %1").arg(kind != kinds.end() ? kind->second.first : "Info"));
    box.setText(text);
    std::map<QAbstractButton*, int> answers;
    const std::vector<int> buttons = message.buttons();
    for (const int answer : buttons) {
        answers.emplace(box.addButton(standardOf(answer)), answer);
    }
    const int wanted = MessageWord::defaultButton(flags).value_or(buttons.front());
    for (const auto& [button, answer] : answers) {
        if (answer == wanted) {
            box.setDefaultButton(qobject_cast<QPushButton*>(button));
        }
    }
    QCheckBox* dontShow = nullptr;
    if (!(flags & MessageWord::kAlwaysShow)) {
        dontShow = new QCheckBox(QObject::tr("&Don't show this dialog again"), &box);
        box.setCheckBox(dontShow);
    }
    box.exec();
    const auto pressed = answers.find(box.clickedButton());
    // Closed without a button: the escape answer, Cancel or No where there is one.
    int answer = pressed != answers.end() ? pressed->second : buttons.back();
    return memory.remember(message, flags, answer, dontShow != nullptr && dontShow->isChecked());
}

}  // namespace pm::ui
