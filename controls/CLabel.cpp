#include "controls/CLabel.h"

#include <QDesktopServices>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

CLabel::CLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    m_foreColour = palette().color(QPalette::WindowText);
    m_faceColour = palette().color(QPalette::Button);
    m_font = font();
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWordWrap(true);
    m_blinkTimer.setInterval(500);
    connect(&m_blinkTimer, &QTimer::timeout, this, &CLabel::OnBlinkTick);
    m_opener = [](const QUrl& url) { QDesktopServices::openUrl(url); };
}

CLabel::~CLabel() = default;

void CLabel::RefreshSurface() {
    update();
    // A see-through label needs the parent's surface beneath it drawn again.
    if (m_transparent && parentWidget() != nullptr) {
        parentWidget()->update(geometry());
    }
}

void CLabel::RemakeFont() {
    setFont(m_font);
    RefreshSurface();
}

CLabel& CLabel::SetBackground(const QColor& colour, const QColor& gradientEnd, bool gradient) {
    m_fillColour = colour;
    m_gradientEnd = gradientEnd;
    m_gradient = gradient;
    m_backColour.reset();
    if (!gradient) {
        m_backColour = colour;
    }
    RefreshSurface();
    return *this;
}

CLabel& CLabel::SetTextColor(const QColor& colour) {
    m_foreColour = colour;
    RefreshSurface();
    return *this;
}

CLabel& CLabel::SetLabelText(const QString& text) {
    setText(text);
    RefreshSurface();
    return *this;
}

CLabel& CLabel::SetBold(bool bold) {
    m_font.setWeight(bold ? QFont::Bold : QFont::Normal);
    RemakeFont();
    return *this;
}

CLabel& CLabel::SetFaceName(const QString& face) {
    m_font.setFamily(face.left(31));
    RemakeFont();
    return *this;
}

CLabel& CLabel::SetUnderline(bool underline) {
    m_font.setUnderline(underline);
    RemakeFont();
    return *this;
}

CLabel& CLabel::SetItalic(bool italic) {
    m_font.setItalic(italic);
    RemakeFont();
    return *this;
}

CLabel& CLabel::SetPointSize(int points) {
    if (points > 0) {
        m_font.setPointSize(points);
    }
    RemakeFont();
    return *this;
}

void CLabel::UpdateFrame() {
    if (m_staticEdge) {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
    } else if (m_border) {
        setFrameStyle(QFrame::Box | QFrame::Plain);
    } else {
        setFrameStyle(QFrame::NoFrame);
    }
    setLineWidth(1);
}

CLabel& CLabel::SetStaticEdge(bool edge) {
    m_staticEdge = edge;
    UpdateFrame();
    return *this;
}

CLabel& CLabel::SetBorderStyle(bool border) {
    m_border = border;
    UpdateFrame();
    return *this;
}

CLabel& CLabel::SetTransparentBackground(bool transparent) {
    m_transparent = transparent;
    setAttribute(Qt::WA_OpaquePaintEvent, !transparent);
    if (parentWidget() != nullptr) {
        parentWidget()->update(geometry());
    }
    RefreshSurface();
    return *this;
}

CLabel& CLabel::BlinkText(bool blink) {
    m_blinkTimer.stop();
    if (blink) {
        m_blinkPhase = false;
        m_blinkTimer.start();
        m_blinkKind = BlinkKind::Text;
    } else {
        m_blinkKind = BlinkKind::None;
    }
    return *this;
}

CLabel& CLabel::BlinkBackground(bool blink) {
    m_blinkTimer.stop();
    if (blink) {
        m_blinkPhase = false;
        m_blinkTimer.start();
        m_blinkKind = BlinkKind::Background;
    }
    return *this;
}

void CLabel::OnBlinkTick() {
    m_blinkPhase = !m_blinkPhase;
    RefreshSurface();
}

CLabel& CLabel::SetWebLink(bool enable, bool notifyParent) {
    m_linkKind = enable ? LinkKind::Web : LinkKind::None;
    m_notifyParent = notifyParent;
    return *this;
}

CLabel& CLabel::SetHoverCursor(const QCursor& cursor) {
    m_hoverCursor = cursor;
    setCursor(cursor);
    return *this;
}

CLabel& CLabel::SetEmbossed(bool embossed, bool downRight) {
    m_embossed = embossed;
    m_embossDownRight = downRight;
    RefreshSurface();
    return *this;
}

CLabel& CLabel::SetTextAngle(int degrees, bool centred) {
    m_angle = degrees;
    m_angleCentred = centred;
    RemakeFont();
    return *this;
}

CLabel& CLabel::SetEmbossColor(const QColor& colour) {
    m_embossColour = colour;
    RefreshSurface();
    return *this;
}

CLabel& CLabel::SetLogFont(const QFont& font) {
    m_font = font;
    RemakeFont();
    return *this;
}

CLabel& CLabel::SetMailtoLink(bool enable, bool notifyParent) {
    m_linkKind = enable ? LinkKind::Mail : LinkKind::None;
    m_notifyParent = notifyParent;
    return *this;
}

CLabel& CLabel::SetLinkTarget(const QString& target) {
    m_linkTarget = target;
    return *this;
}

std::vector<CLabel::Band> CLabel::GradientBands(int left, int right, const QColor& from,
                                                const QColor& to) {
    std::vector<Band> bands;
    const int width = right - left;
    const int count = width >= 100 ? 100 : width;
    if (count <= 0) {
        return bands;
    }
    const int start[3] = {from.red() * 256, from.green() * 256, from.blue() * 256};
    const int step[3] = {(to.red() - from.red()) * 256 / count,
                         (to.green() - from.green()) * 256 / count,
                         (to.blue() - from.blue()) * 256 / count};
    int value[3] = {start[0], start[1], start[2]};
    const int bandWidth = width / count;
    int x = left;
    for (int i = 0; i < count; ++i) {
        const int x2 = i == count - 1 ? right : x + bandWidth;
        bands.push_back({x, x2 - x, QColor(value[0] / 256, value[1] / 256, value[2] / 256)});
        for (int c = 0; c < 3; ++c) {
            value[c] += step[c];
        }
        x = x2;
    }
    return bands;
}

void CLabel::DrawContents(QPainter& painter, const QRect& rect) {
    if (!m_transparent) {
        if (m_gradient) {
            for (const Band& band : GradientBands(rect.left(), rect.left() + rect.width(),
                                                  m_fillColour, m_gradientEnd)) {
                painter.fillRect(QRect(band.x, rect.top(), band.width, rect.height()), band.colour);
            }
        } else {
            const bool faceOnly = m_blinkKind == BlinkKind::Background && !m_blinkPhase;
            painter.fillRect(rect, m_backColour && !faceOnly ? *m_backColour : m_faceColour);
        }
    }

    QColor textColour = m_foreColour;
    if (m_blinkKind == BlinkKind::Text && !m_blinkPhase) {
        textColour = m_backColour ? *m_backColour : QColor(0, 0, 0);
    }
    painter.setFont(m_font);

    const QString body = text();
    const Qt::Alignment align = alignment();
    int flags = 0;
    if (align & Qt::AlignHCenter) {
        flags = Qt::AlignHCenter | Qt::TextWordWrap;
    } else if (align & Qt::AlignRight) {
        flags = Qt::AlignRight | Qt::TextWordWrap;
    } else {
        flags = Qt::AlignLeft | (wordWrap() ? Qt::TextWordWrap : 0);
    }
    if (body.contains(QLatin1Char('\t'))) {
        flags |= Qt::TextExpandTabs;
    }
    if (align & Qt::AlignVCenter) {
        // Centred both ways when on one line; a text with line breaks starts at the top.
        flags = body.contains(QLatin1Char('\n')) ? int(Qt::AlignHCenter | Qt::AlignTop)
                                                 : int(Qt::AlignCenter | Qt::TextSingleLine);
    }

    const QRect inner = contentsRect();
    if (m_angleCentred || m_angle != 0) {
        painter.save();
        painter.translate(inner.left() + inner.width() / 2, inner.top() + inner.height() / 2);
        painter.rotate(-m_angle);
        const QRect box(-inner.width() * 2, -inner.height() * 2, inner.width() * 4,
                        inner.height() * 4);
        painter.setPen(textColour);
        if (m_angleCentred) {
            painter.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, body);
        } else {
            painter.drawText(inner.translated(-inner.center()), flags, body);
        }
        painter.restore();
        return;
    }
    painter.setPen(textColour);
    painter.drawText(inner, flags, body);
    if (m_embossed) {
        const int offset = m_embossDownRight ? 1 : -1;
        painter.setPen(m_embossColour);
        painter.drawText(inner.translated(offset, offset), flags, body);
    }
}

void CLabel::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    if (m_transparent) {
        DrawContents(painter, rect());
    } else {
        // Drawn off-screen first and copied in one step, so it never flickers.
        QPixmap surface(size() * devicePixelRatioF());
        surface.setDevicePixelRatio(devicePixelRatioF());
        surface.fill(Qt::transparent);
        {
            QPainter offscreen(&surface);
            DrawContents(offscreen, rect());
        }
        painter.drawPixmap(0, 0, surface);
    }
    drawFrame(&painter);
}

void CLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        if (m_notifyParent) {
            emit LinkNotify();
        } else if (m_linkKind == LinkKind::Web) {
            const QString target = m_linkTarget.isEmpty() ? text() : m_linkTarget;
            m_opener(QUrl::fromUserInput(target));
        } else if (m_linkKind == LinkKind::Mail) {
            m_opener(QUrl(QStringLiteral("mailto:") + text()));
        }
    }
    QLabel::mousePressEvent(event);
}

void CLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        m_faceColour = palette().color(QPalette::Button);
        RefreshSurface();
    }
    QLabel::changeEvent(event);
}
