#include "ui/framework/PaneView.h"

#include <QPainter>
#include <utility>

#include "ui/framework/ChangeHubAdaptor.h"

namespace pm::ui {

PaneView::PaneView(QString caption, ChangeHubAdaptor& changes, QWidget* parent)
    : QWidget(parent), m_caption(std::move(caption)), m_changes(changes) {
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    setMinimumSize(120, 80);
}

std::optional<CommandState> PaneView::commandState(int /*id*/) const {
    return std::nullopt;
}

bool PaneView::runCommand(int /*id*/) {
    return false;
}

void PaneView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(rect(), Qt::AlignCenter, m_caption);
}

}  // namespace pm::ui
