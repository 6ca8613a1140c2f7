#include "widgets/WidgetLayout.h"

#include <cmath>

sListLayout listLayout(int x, int y, int width, int height, int upWidth, int upHeight, int downWidth,
                       int downHeight)
{
    sListLayout layout;
    layout.visibleHeight = height - (upHeight + downHeight + 10);
    layout.backgroundX = x;
    layout.backgroundY = y;
    layout.reflectionX = x;
    layout.reflectionY = y + height + 5;
    layout.clipX = x;
    layout.clipY = y + upHeight + 5;
    layout.upArrowX = x + (width - upWidth) / 2;
    layout.upArrowY = y;
    layout.downArrowX = x + (width - downWidth) / 2;
    layout.downArrowY = y + height - downHeight;
    return layout;
}

bool listRowsFit(int count, int rowHeight, int visibleHeight)
{
    return static_cast<unsigned>(count * rowHeight) <= static_cast<unsigned>(visibleHeight);
}

int listStartOffset(int count, int rowHeight, int visibleHeight)
{
    if (!listRowsFit(count, rowHeight, visibleHeight)) {
        return 0;
    }
    return static_cast<int>((static_cast<unsigned>(visibleHeight) - static_cast<unsigned>(count * rowHeight)) / 2);
}

bool listRowsFillFrom(const std::vector<int>& pitches, int top, int visibleHeight, int rowHeight)
{
    const int wanted = visibleHeight - rowHeight;
    int sum = 0;
    for (int index = top < 0 ? 0 : top; index < static_cast<int>(pitches.size()); ++index) {
        sum += pitches[index];
        if (sum >= wanted) {
            return true;
        }
    }
    return false;
}

sArrowOpacities listArrowOpacities(int count, int topElement, int rowHeight, int visibleHeight)
{
    sArrowOpacities opacities;
    if (listRowsFit(count, rowHeight, visibleHeight)) {
        return opacities;
    }
    opacities.up = topElement == 0 ? 0 : 255;
    opacities.down = listRowsFit(count - topElement, rowHeight, visibleHeight) ? 0 : 255;
    return opacities;
}

int scalerHandleX(int width, float value)
{
    return static_cast<int>((width / 5.0) * value);
}

float scalerValueAt(float pointerX, float groupX, int width)
{
    return static_cast<float>(5.0 * (static_cast<double>(pointerX) - groupX) / width);
}

double volumeAngle(int value)
{
    return value * 3.0;
}

double pointerAngle(double dx, double dy)
{
    constexpr double Degrees = 180.0 / 3.14159265358979323846;
    if (dx == 0.0) {
        return dy < 0.0 ? 270.0 : 90.0;
    }
    if (dy == 0.0) {
        return dx < 0.0 ? 180.0 : 0.0;
    }
    if (dy > 0.0) {
        return dx > 0.0 ? std::atan(dy / dx) * Degrees : 180.0 - std::atan(dy / -dx) * Degrees;
    }
    return dx > 0.0 ? 360.0 - std::atan(-dy / dx) * Degrees : 180.0 + std::atan(dy / dx) * Degrees;
}

bool volumeValueAt(double angle, int& value)
{
    if (angle < 60.0) {
        angle += 240.0;
    } else if (angle > 120.0) {
        angle -= 120.0;
    } else {
        return false;
    }
    value = static_cast<int>(angle / 3.0);
    return true;
}
