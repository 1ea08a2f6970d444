#pragma once
#include <QLabel>

// A one-line label that cuts a text too long for it at the end with an ellipsis.
class TElidedLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* AEvent) override;
};
