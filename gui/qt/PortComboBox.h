// A drop-down list that tells its owner before it opens, so the port list is
// read again each time the person looks at it.
#pragma once

#include <QComboBox>
#include <functional>
#include <utility>

class PortComboBox : public QComboBox {
public:
    explicit PortComboBox(QWidget* parent, std::function<void()> onDropDown)
        : QComboBox(parent), onDropDown_(std::move(onDropDown))
    {
    }

    void showPopup() override
    {
        onDropDown_();
        QComboBox::showPopup();
    }

private:
    std::function<void()> onDropDown_;
};
