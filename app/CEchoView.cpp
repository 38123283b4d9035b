#include "app/CEchoView.h"

#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>

CEchoView::CEchoView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
}

int CEchoView::LineHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

int CEchoView::LinesPerPage() const {
    return std::max(1, viewport()->height() / LineHeight());
}

std::size_t CEchoView::FirstVisibleLine() const {
    return static_cast<std::size_t>(std::max(0, verticalScrollBar()->value()));
}

void CEchoView::SetLineCount(std::size_t count, int columns) {
    m_count = count;
    m_columns = columns;
    UpdateScrollBars();
    viewport()->update();
}

void CEchoView::UpdateScrollBars() {
    // The bar counts lines; its last position shows the last line at the bottom.
    const auto lines = static_cast<long long>(std::min<std::size_t>(m_count, INT_MAX));
    const int maximum = static_cast<int>(std::max<long long>(0, lines - LinesPerPage()));
    verticalScrollBar()->setRange(0, maximum);
    verticalScrollBar()->setPageStep(LinesPerPage());
    verticalScrollBar()->setSingleStep(1);
    const int textWidth = fontMetrics().horizontalAdvance(QLatin1Char('0')) * m_columns + 8;
    horizontalScrollBar()->setRange(0, std::max(0, textWidth - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(fontMetrics().horizontalAdvance(QLatin1Char('0')));
}

void CEchoView::ScrollToStart() {
    verticalScrollBar()->setValue(0);
}

void CEchoView::ScrollToEnd() {
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void CEchoView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(viewport());
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::Text));
    if (!m_source) {
        return;
    }
    const int height = LineHeight();
    const int ascent = fontMetrics().ascent();
    const int left = 4 - horizontalScrollBar()->value();
    const std::size_t first = FirstVisibleLine();
    const int rows = viewport()->height() / height + 1;
    for (int row = 0; row < rows && first + static_cast<std::size_t>(row) < m_count; ++row) {
        const std::string line = m_source(first + static_cast<std::size_t>(row));
        painter.drawText(left, row * height + ascent + 1,
                         QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
    }
}

void CEchoView::resizeEvent(QResizeEvent* event) {
    const bool atEnd = verticalScrollBar()->value() == verticalScrollBar()->maximum();
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
    if (atEnd) {
        ScrollToEnd();  // the last lines stay in view
    }
}

void CEchoView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::MoveToStartOfDocument) || event->key() == Qt::Key_Home) {
        ScrollToStart();
    } else if (event->matches(QKeySequence::MoveToEndOfDocument) || event->key() == Qt::Key_End) {
        ScrollToEnd();
    } else {
        QAbstractScrollArea::keyPressEvent(event);
    }
}
