#pragma once
#include <QCheckBox>
#include <QRadioButton>

// A check box or option button that answers a click anywhere in its
// designed rectangle, not only on its box and caption.
template <class Button>
class WholeAreaButton final : public Button
{
public:
    using Button::Button;

protected:
    bool hitButton(const QPoint &pos) const override { return this->rect().contains(pos); }
};

using CheckBox = WholeAreaButton<QCheckBox>;
using OptionButton = WholeAreaButton<QRadioButton>;
