#pragma once
// A self-painted progress bar with a two-coloured text across the edge of its filled part.

#include <QBasicTimer>
#include <QColor>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <optional>

class QPainter;

// Progress bar keeping its own position, range and step; painted off-screen in one copy.
class CTextProgressCtrl : public QWidget {
    Q_OBJECT
public:
    // A colour that is not chosen follows the palette.
    using Colour = std::optional<QColor>;
    enum Align { AlignStart = 0, AlignCentre = 1, AlignEnd = 2 };

    explicit CTextProgressCtrl(QWidget* parent = nullptr);

    // Range and position. Old values are returned as the standard bar's messages return them.
    uint32_t SetRange(uint16_t minimum, uint16_t maximum);  // old min | old max << 16
    uint32_t SetRange32(int32_t minimum,
                        int32_t maximum);  // old min | old max << 16 (16 bits each)
    int32_t GetRange(bool wantMinimum, int32_t* low = nullptr, int32_t* high = nullptr) const;
    int32_t SetPos(int32_t position);  // clamps, repaints at once; old position
    int32_t DeltaPos(int32_t amount);  // old position
    int32_t SetStep(int32_t step);     // old step
    int32_t StepIt();                  // position + step, wrapped into the range; old position
    int32_t GetPos() const { return m_position; }

    // Colours: setters return the old stored value (no value = not chosen), getters resolve it.
    Colour SetBarColour(Colour colour);
    Colour SetBkColour(Colour colour);
    Colour SetTextColour(Colour colour);  // over the unfilled part
    Colour SetBarTextColour(Colour colour);
    QColor GetBarColour() const;
    QColor GetBkColour() const;
    QColor GetTextColour() const;
    QColor GetBarTextColour() const;

    // Text.
    bool ShowPercent(bool show);        // old flag
    int32_t AlignText(int32_t align);   // 0 start, 2 end, other centred; old alignment
    void SetText(const QString& text);  // the text shown when the percentage is off
    QString Text() const { return m_text; }
    QString DisplayText() const;  // what is drawn: percentage or the text

    // Styles and marquee.
    void SetVertical(bool vertical);
    bool IsVertical() const { return m_vertical; }
    bool SetMarquee(bool on, int intervalMs);  // returns on
    bool IsMarquee() const { return m_marquee; }
    int32_t SetMarqueeBlock(int32_t percent);  // returns the new value
    void MarqueeStep();                        // one tick of the marquee timer
    int32_t UpperLimit() const;                // the maximum, widened by the marquee block

    // The picture as painted (for checks and screenshots).
    QPixmap Render() const;

    QSize sizeHint() const override { return {200, 22}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void Repaint();
    void Draw(QPainter& painter, const QRect& client) const;

    bool m_showPercent = true;
    Colour m_barColour;
    Colour m_backColour;
    Colour m_textColour;
    Colour m_barTextColour;
    int32_t m_textAlign = AlignCentre;
    int32_t m_position = 0;
    int32_t m_step = 10;
    int32_t m_rangeMin = 0;
    int32_t m_rangeMax = 100;
    int32_t m_marqueePercent = 20;
    int m_marqueeDirection = 1;
    bool m_vertical = false;
    bool m_marquee = false;
    QString m_text;
    QBasicTimer m_marqueeTimer;
};
