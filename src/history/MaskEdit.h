// TMaskEdit: a time box with the mask 99:99:99 that keeps the input focus while incomplete.
#pragma once

#include <QLineEdit>

namespace zeva {

inline const QString InvalidInputMessage = QStringLiteral("Invalid input value.  Use escape key to abandon changes");

class TMaskEdit : public QLineEdit {
public:
    explicit TMaskEdit(const QString& text, QWidget* parent = nullptr);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refuse();

    QString m_entered; // the text when the box took the focus, for Escape
    bool m_refusing = false;
};

} // namespace zeva
