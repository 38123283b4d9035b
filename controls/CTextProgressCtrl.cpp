#include "controls/CTextProgressCtrl.h"

#include <QLocale>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QTimerEvent>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// A rectangle with exclusive right and bottom edges, as the bar's geometry is computed.
struct Box {
    int left, top, right, bottom;
    QRect ToRect() const { return QRect(left, top, right - left, bottom - top); }
};

uint32_t PackRange(int32_t low, int32_t high) {
    return static_cast<uint32_t>(static_cast<uint16_t>(low)) |
           (static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16);
}

int32_t Saturate(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

}  // namespace

CTextProgressCtrl::CTextProgressCtrl(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

uint32_t CTextProgressCtrl::SetRange(uint16_t minimum, uint16_t maximum) {
    return SetRange32(minimum, maximum);
}

uint32_t CTextProgressCtrl::SetRange32(int32_t minimum, int32_t maximum) {
    const uint32_t old = PackRange(m_rangeMin, m_rangeMax);
    m_rangeMin = minimum;
    m_rangeMax = maximum;
    return old;
}

int32_t CTextProgressCtrl::GetRange(bool wantMinimum, int32_t* low, int32_t* high) const {
    if (low != nullptr) {
        *low = m_rangeMin;
    }
    if (high != nullptr) {
        *high = m_rangeMax;
    }
    return wantMinimum ? m_rangeMin : m_rangeMax;
}

int32_t CTextProgressCtrl::UpperLimit() const {
    if (!m_marquee) {
        return m_rangeMax;
    }
    const double limit = ((m_marqueePercent + 100.0) * m_rangeMax + 0.5) / 100.0;
    return Saturate(static_cast<int64_t>(std::trunc(limit)));
}

int32_t CTextProgressCtrl::SetPos(int32_t position) {
    const int32_t old = m_position;
    position = std::max(position, m_rangeMin);
    position = std::min(position, UpperLimit());
    m_position = position;
    Repaint();
    return old;
}

int32_t CTextProgressCtrl::DeltaPos(int32_t amount) {
    return SetPos(Saturate(static_cast<int64_t>(m_position) + amount));
}

int32_t CTextProgressCtrl::SetStep(int32_t step) {
    const int32_t old = m_step;
    m_step = step;
    return old;
}

int32_t CTextProgressCtrl::StepIt() {
    int64_t next = static_cast<int64_t>(m_position) + m_step;
    if (next < m_rangeMin) {
        next = static_cast<int64_t>(m_rangeMax) - (m_rangeMin - next);
    } else if (next > m_rangeMax) {
        next = static_cast<int64_t>(m_rangeMin) + (next - m_rangeMax);
    }
    return SetPos(Saturate(next));
}

CTextProgressCtrl::Colour CTextProgressCtrl::SetBarColour(Colour colour) {
    std::swap(m_barColour, colour);
    Repaint();
    return colour;
}

CTextProgressCtrl::Colour CTextProgressCtrl::SetBkColour(Colour colour) {
    std::swap(m_backColour, colour);
    Repaint();
    return colour;
}

CTextProgressCtrl::Colour CTextProgressCtrl::SetTextColour(Colour colour) {
    std::swap(m_textColour, colour);
    Repaint();
    return colour;
}

CTextProgressCtrl::Colour CTextProgressCtrl::SetBarTextColour(Colour colour) {
    std::swap(m_barTextColour, colour);
    Repaint();
    return colour;
}

QColor CTextProgressCtrl::GetBarColour() const {
    return m_barColour.value_or(palette().color(QPalette::Highlight));
}

QColor CTextProgressCtrl::GetBkColour() const {
    return m_backColour.value_or(palette().color(QPalette::Button));
}

QColor CTextProgressCtrl::GetTextColour() const {
    return m_textColour.value_or(palette().color(QPalette::WindowText));
}

QColor CTextProgressCtrl::GetBarTextColour() const {
    return m_barTextColour.value_or(palette().color(QPalette::Base));
}

bool CTextProgressCtrl::ShowPercent(bool show) {
    const bool old = m_showPercent;
    m_showPercent = show;
    Repaint();
    return old;
}

int32_t CTextProgressCtrl::AlignText(int32_t align) {
    const int32_t old = m_textAlign;
    m_textAlign = align;
    Repaint();
    return old;
}

void CTextProgressCtrl::SetText(const QString& text) {
    m_text = text;
    Repaint();
}

QString CTextProgressCtrl::DisplayText() const {
    if (!m_showPercent) {
        return m_text;
    }
    const double span = static_cast<double>(m_rangeMax) - m_rangeMin;
    const double fraction = (static_cast<double>(m_position) - m_rangeMin) / span;
    return QLocale(QLocale::Russian).toString(fraction * 100.0, 'f', 6) + QStringLiteral(" %");
}

void CTextProgressCtrl::SetVertical(bool vertical) {
    m_vertical = vertical;
    Repaint();
}

bool CTextProgressCtrl::SetMarquee(bool on, int intervalMs) {
    m_showPercent = false;
    if (on) {
        m_marquee = true;
        m_marqueeTimer.start(std::max(intervalMs, 10), this);
    } else {
        m_marqueeTimer.stop();
        m_marquee = false;
    }
    Repaint();
    return on;
}

int32_t CTextProgressCtrl::SetMarqueeBlock(int32_t percent) {
    m_marqueePercent = percent;
    Repaint();
    return m_marqueePercent;
}

void CTextProgressCtrl::MarqueeStep() {
    const int32_t p = m_position;
    if (m_marqueeDirection == 1 && p >= UpperLimit()) {
        m_marqueeDirection = -1;
    } else if (m_marqueeDirection == -1 && p <= m_rangeMin) {
        m_marqueeDirection = 1;
    }
    SetPos(Saturate(static_cast<int64_t>(p) + m_marqueeDirection));
}

void CTextProgressCtrl::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_marqueeTimer.timerId()) {
        MarqueeStep();
    } else {
        QWidget::timerEvent(event);
    }
}

void CTextProgressCtrl::Repaint() {
    if (isVisible()) {
        repaint();
    }
}

QPixmap CTextProgressCtrl::Render() const {
    QPixmap pixmap(size());
    pixmap.fill(palette().color(QPalette::Window));
    QPainter painter(&pixmap);
    Draw(painter, rect());
    return pixmap;
}

void CTextProgressCtrl::paintEvent(QPaintEvent* /*event*/) {
    // Everything goes to the pixmap first and reaches the screen in one copy.
    const QPixmap picture = Render();
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture);
}

void CTextProgressCtrl::Draw(QPainter& painter, const QRect& client) const {
    if (m_rangeMin >= m_rangeMax || client.width() < 5 || client.height() < 5) {
        return;
    }
    const QColor barColour = GetBarColour();
    const QColor backColour = GetBkColour();
    const QColor textColour = GetTextColour();
    const QColor barTextColour = GetBarTextColour();

    // Flat sunken edge: shadow outside, face inside; the interior lies within.
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(client.adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::Button));
    painter.drawRect(client.adjusted(1, 1, -2, -2));
    const Box inner{client.left() + 2, client.top() + 2, client.left() + client.width() - 2,
                    client.top() + client.height() - 2};
    const int w = inner.right - inner.left;
    const int h = inner.bottom - inner.top;
    const QRect interior = inner.ToRect();

    const double span = static_cast<double>(m_rangeMax) - m_rangeMin;
    const double fraction = (static_cast<double>(m_position) - m_rangeMin) / span;
    // A position outside the range (after a range change) is drawn at the nearest end.
    const double most = m_marquee ? (static_cast<double>(UpperLimit()) - m_rangeMin) / span : 1.0;
    const double f = std::clamp(fraction, 0.0, std::max(most, 0.0));

    Box lead = inner;
    Box bar = inner;
    Box rest = inner;
    bool leadDrawn = true;
    bool restDrawn = true;
    if (!m_marquee) {
        leadDrawn = false;
        if (!m_vertical) {
            bar.right = inner.left + static_cast<int>(std::trunc(w * f));
            rest.left = bar.right;
        } else {
            bar.top = inner.bottom - static_cast<int>(std::trunc(h * f));
            rest.bottom = bar.top;
        }
    } else if (!m_vertical) {
        const int block = (w * m_marqueePercent + 50) / 100;
        const int edge = inner.left + static_cast<int>(std::trunc(w * f));
        bar.right = edge;
        bar.left = edge - block;
        if (bar.left > inner.left) {
            lead.right = bar.left;
        } else {
            leadDrawn = false;
            bar.left = inner.left;
        }
        if (edge < inner.right) {
            rest.left = edge;
        } else {
            restDrawn = false;
            bar.right = inner.right;
        }
    } else {
        const int block = (h * m_marqueePercent + 50) / 100;
        const int edge = inner.bottom - static_cast<int>(std::trunc(h * f));
        bar.top = edge;
        bar.bottom = edge + block;
        if (bar.bottom < inner.bottom) {
            lead.top = bar.bottom;
        } else {
            leadDrawn = false;
            bar.bottom = inner.bottom;
        }
        if (edge > inner.top) {
            rest.bottom = edge;
        } else {
            restDrawn = false;
            bar.top = inner.top;
        }
    }

    painter.save();
    painter.setClipRect(interior);
    if (leadDrawn) {
        painter.fillRect(lead.ToRect(), backColour);
    }
    painter.fillRect(bar.ToRect(), barColour);
    if (restDrawn) {
        painter.fillRect(rest.ToRect(), backColour);
    }
    painter.restore();

    const QString text = DisplayText();
    if (text.isEmpty()) {
        return;
    }
    painter.setFont(font());
    const QFontMetrics metrics(font());
    const int cx = metrics.horizontalAdvance(text);
    const int cy = metrics.height();
    int x = 0;
    int y = 0;
    if (!m_vertical) {
        if (m_textAlign == AlignStart) {
            x = inner.left + 2;
        } else if (m_textAlign == AlignEnd) {
            x = inner.right - cx - 3;
        } else {
            x = inner.left + (inner.right - cx - inner.left) / 2;
        }
        y = inner.top + (inner.bottom - cy - inner.top) / 2;
    } else {
        x = inner.left + (inner.right - cy - inner.left) / 2;
        if (m_textAlign == AlignStart) {
            y = inner.bottom - 3;
        } else if (m_textAlign == AlignEnd) {
            y = inner.top + cx + 2;
        } else {
            y = inner.top + cx + (inner.bottom - cx - inner.top) / 2;
        }
    }

    // The same text three times, each clipped to one part, so its colour changes at the edge.
    const auto drawPart = [&](const Box& part, const QColor& colour) {
        const QRect clip = part.ToRect().intersected(interior);
        if (clip.isEmpty()) {
            return;
        }
        painter.save();
        painter.setClipRect(clip);
        painter.setPen(colour);
        painter.translate(x, y);
        if (m_vertical) {
            painter.rotate(-90.0);  // the text runs upwards from (x, y)
        }
        painter.drawText(0, metrics.ascent(), text);
        painter.restore();
    };
    if (leadDrawn) {
        drawPart(lead, textColour);
    }
    drawPart(bar, barTextColour);
    if (restDrawn) {
        drawPart(rest, textColour);
    }
}
