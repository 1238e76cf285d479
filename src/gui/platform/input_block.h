#pragma once
#include <QObject>
#include <QPointer>

class QWidget;

// While it lives, no window of the program takes input from the user, except
// the one it lets through: clicks, keys, shortcuts and the window system's
// close requests are dropped, while every window keeps painting and answering
// the desktop. A close asked for by the program itself still arrives.
class InputBlock final : public QObject
{
public:
    explicit InputBlock(QWidget *allowed = nullptr);
    ~InputBlock() override;

    void allow(QWidget *window) { m_allowed = window; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool isAllowed(const QObject *target) const;

    QPointer<QWidget> m_allowed;
};
