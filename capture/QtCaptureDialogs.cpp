// The driver's format and source dialogs as Qt dialogs, modal over the capture window.
#include "capture/QtCaptureDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <algorithm>

namespace kestrane {

int QtCaptureDialogs::chooseFormat(const std::vector<FormatOption>& options, int currentIndex) {
    if (options.empty()) {
        return -1;
    }
    QDialog dialog(parent_);
    dialog.setWindowTitle(QStringLiteral("Video Format"));
    auto* layouts = new QComboBox(&dialog);
    auto* sizes = new QComboBox(&dialog);
    for (const FormatOption& option : options) {
        const QString label = QString::fromStdString(option.label);
        if (layouts->findText(label) < 0) {
            layouts->addItem(label);
        }
    }
    // The size list shows the sizes of the chosen layout; each entry keeps its option's index.
    const auto fillSizes = [&options, layouts, sizes](int preferred) {
        sizes->clear();
        for (std::size_t i = 0; i < options.size(); ++i) {
            if (QString::fromStdString(options[i].label) == layouts->currentText()) {
                sizes->addItem(QStringLiteral("%1 x %2").arg(options[i].width).arg(options[i].height),
                               static_cast<int>(i));
            }
        }
        const int at = sizes->findData(preferred);
        sizes->setCurrentIndex(at >= 0 ? at : 0);
    };
    if (currentIndex >= 0 && currentIndex < static_cast<int>(options.size())) {
        layouts->setCurrentText(
            QString::fromStdString(options[static_cast<std::size_t>(currentIndex)].label));
    }
    fillSizes(currentIndex);
    QObject::connect(layouts, &QComboBox::currentTextChanged, &dialog, [&] { fillSizes(-1); });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("Format"), layouts);
    form->addRow(QStringLiteral("Size"), sizes);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted || sizes->currentIndex() < 0) {
        return -1;
    }
    return sizes->currentData().toInt();
}

void QtCaptureDialogs::adjustSource(const std::vector<SourceControl>& controls,
                                    const std::function<void(std::uint32_t id, std::int32_t value)>& apply) {
    QDialog dialog(parent_);
    dialog.setWindowTitle(QStringLiteral("Video Source"));
    auto* form = new QFormLayout(&dialog);
    std::vector<std::pair<QSpinBox*, std::int32_t>> defaults;
    std::vector<std::pair<QCheckBox*, std::int32_t>> switchDefaults;
    std::vector<std::pair<QComboBox*, std::int32_t>> choiceDefaults;
    for (const SourceControl& control : controls) {
        const std::uint32_t id = control.id;
        if (!control.choices.empty()) {
            // Named states: a list that offers them by name and hands on the value of the one chosen.
            auto* list = new QComboBox(&dialog);
            for (const auto& [value, name] : control.choices) {
                list->addItem(QString::fromStdString(name), value);
            }
            list->setCurrentIndex(std::max(list->findData(control.value), 0));
            QObject::connect(list, &QComboBox::currentIndexChanged, &dialog,
                             [&apply, id, list](int) { apply(id, list->currentData().toInt()); });
            form->addRow(QString::fromStdString(control.name), list);
            choiceDefaults.emplace_back(list, control.defaultValue);
            continue;
        }
        if (control.minimum == 0 && control.maximum == 1) {
            // A control with two states is a switch.
            auto* box = new QCheckBox(QString::fromStdString(control.name), &dialog);
            box->setChecked(control.value != 0);
            QObject::connect(box, &QCheckBox::toggled, &dialog,
                             [&apply, id](bool on) { apply(id, on ? 1 : 0); });
            form->addRow(box);
            switchDefaults.emplace_back(box, control.defaultValue);
            continue;
        }
        auto* slider = new QSlider(Qt::Horizontal, &dialog);
        auto* box = new QSpinBox(&dialog);
        slider->setRange(control.minimum, control.maximum);
        slider->setSingleStep(control.step);
        slider->setValue(control.value);
        box->setRange(control.minimum, control.maximum);
        box->setSingleStep(control.step);
        box->setValue(control.value);
        QObject::connect(slider, &QSlider::valueChanged, box, &QSpinBox::setValue);
        QObject::connect(box, &QSpinBox::valueChanged, slider, &QSlider::setValue);
        QObject::connect(box, &QSpinBox::valueChanged, &dialog,
                         [&apply, id](int value) { apply(id, value); });
        auto* row = new QHBoxLayout;
        row->addWidget(slider, 1);
        row->addWidget(box);
        form->addRow(QString::fromStdString(control.name), row);
        defaults.emplace_back(box, control.defaultValue);
    }
    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Close | QDialogButtonBox::RestoreDefaults, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(buttons->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked, &dialog,
                     [&defaults, &switchDefaults, &choiceDefaults] {
                         for (const auto& [box, value] : defaults) {
                             box->setValue(value);
                         }
                         for (const auto& [box, value] : switchDefaults) {
                             box->setChecked(value != 0);
                         }
                         for (const auto& [list, value] : choiceDefaults) {
                             list->setCurrentIndex(std::max(list->findData(value), 0));
                         }
                     });
    form->addRow(buttons);
    dialog.exec();
}

} // namespace kestrane
