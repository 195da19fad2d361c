#pragma once

#include <QRect>
#include <QWidget>

// Window layouts are given in twips: 15 per pixel at 96 dpi, scaled with the screen.
class Twips
{
public:
    explicit Twips(const QWidget* w) : m_scale(w->logicalDpiX() / 96.0 / 15.0) {}
    int px(int twips) const { return static_cast<int>(twips * m_scale + 0.5); }
    QRect rect(int left, int top, int width, int height) const
    {
        return QRect(px(left), px(top), px(width), px(height));
    }

private:
    double m_scale;
};
