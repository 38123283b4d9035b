#pragma once
// A self-painted static text: colours, gradient, emboss, blinking, rotation, links.

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QLabel>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <optional>

// Static text that paints itself; setters return the label so calls chain.
class CLabel : public QLabel {
    Q_OBJECT
public:
    enum class LinkKind { None, Web, Mail };
    enum class BlinkKind { None, Text, Background };

    explicit CLabel(const QString& text = {}, QWidget* parent = nullptr);
    ~CLabel() override;

    // Solid colour, or a left-to-right gradient from colour to gradientEnd.
    CLabel& SetBackground(const QColor& colour, const QColor& gradientEnd = QColor(0, 0, 0),
                          bool gradient = false);
    CLabel& SetTextColor(const QColor& colour);
    CLabel& SetLabelText(const QString& text);
    CLabel& SetBold(bool bold);
    CLabel& SetFaceName(const QString& face);  // cut to 31 characters
    CLabel& SetUnderline(bool underline);
    CLabel& SetItalic(bool italic);
    CLabel& SetPointSize(int points);
    CLabel& SetStaticEdge(bool edge);
    CLabel& SetBorderStyle(bool border);
    CLabel& SetTransparentBackground(bool transparent);
    CLabel& BlinkText(bool blink);
    CLabel& BlinkBackground(bool blink);
    CLabel& SetWebLink(bool enable, bool notifyParent = false);
    CLabel& SetHoverCursor(const QCursor& cursor);
    CLabel& SetEmbossed(bool embossed, bool downRight = true);
    CLabel& SetTextAngle(int degrees, bool centred = false);
    CLabel& SetEmbossColor(const QColor& colour);
    CLabel& SetLogFont(const QFont& font);
    CLabel& SetMailtoLink(bool enable, bool notifyParent = false);
    CLabel& SetLinkTarget(const QString& target);

    // How links are opened (QDesktopServices by default; tests put a recorder here).
    void SetUrlOpener(std::function<void(const QUrl&)> opener) { m_opener = std::move(opener); }

    // State, for painting checks.
    QColor TextColour() const { return m_foreColour; }
    std::optional<QColor> BackColour() const { return m_backColour; }
    bool IsTransparent() const { return m_transparent; }
    bool BlinkPhase() const { return m_blinkPhase; }
    BlinkKind Blinking() const { return m_blinkKind; }
    LinkKind Link() const { return m_linkKind; }
    bool BlinkTimerActive() const { return m_blinkTimer.isActive(); }
    const QFont& LabelFont() const { return m_font; }

    // Band rectangles of the gradient over [left, right): x and width of each band.
    struct Band {
        int x;
        int width;
        QColor colour;
    };
    static std::vector<Band> GradientBands(int left, int right, const QColor& from,
                                           const QColor& to);

signals:
    // A click with the notify-parent flag set.
    void LinkNotify();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void RefreshSurface();
    void RemakeFont();
    void OnBlinkTick();
    void UpdateFrame();
    void DrawContents(QPainter& painter, const QRect& rect);

    QColor m_foreColour;
    QColor m_embossColour{255, 255, 255};
    QColor m_faceColour;
    std::optional<QColor> m_backColour;
    QFont m_font;
    bool m_blinkPhase = false;
    LinkKind m_linkKind = LinkKind::None;
    bool m_transparent = false;
    bool m_embossed = false;
    bool m_notifyParent = false;
    bool m_angleCentred = false;
    int m_angle = 0;
    BlinkKind m_blinkKind = BlinkKind::None;
    std::optional<QCursor> m_hoverCursor;
    bool m_embossDownRight = false;
    bool m_gradient = false;
    QColor m_gradientEnd{0, 0, 0};
    QColor m_fillColour{0, 0, 0};
    QString m_linkTarget;
    bool m_staticEdge = false;
    bool m_border = false;
    QTimer m_blinkTimer;
    std::function<void(const QUrl&)> m_opener;
};
