#pragma once

// Making and placing the controls of a window, the same way in every program.
#include "common/twips.h"

#include <QRect>
#include <QString>
#include <QWidget>

#include <utility>

namespace common {

// A control of the window |parent|, built from |args| (a text, an orientation), named |name| as
// the tests and the accessibility tools find it.
template <typename Control, typename... Args>
Control* makeControl(QWidget* parent, const QString& name, Args&&... args)
{
    auto* control = new Control(std::forward<Args>(args)..., parent);
    control->setObjectName(name);
    return control;
}

// Puts |control| at |left|, |top| with |width| x |height|, all in twips.
inline void placeControl(QWidget* control, double left, double top, double width, double height)
{
    control->setGeometry(twipsRect(left, top, width, height));
}

inline void placeControl(QWidget* control, const QRect& twips)
{
    placeControl(control, twips.x(), twips.y(), twips.width(), twips.height());
}

} // namespace common
