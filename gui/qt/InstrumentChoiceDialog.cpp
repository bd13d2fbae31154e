#include "InstrumentChoiceDialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "InstrumentChoice.h"

namespace {

constexpr int kRowsShown = 6;  // the list opens with room for up to this many rows

// A list whose preferred size is what its rows need, not QListWidget's
// fixed 256 by 192: the dialog opens as large as its content, no larger.
class CandidateList : public QListWidget {
public:
    using QListWidget::QListWidget;
    QSize preferred;
    QSize sizeHint() const override { return preferred.isValid() ? preferred : QListWidget::sizeHint(); }
};

int SelectedRow(const QListWidget* list)
{
    const QModelIndexList rows = list->selectionModel()->selectedRows();
    return rows.isEmpty() ? instrument_choice::kNoSelection : rows.first().row();
}

}  // namespace

int AskInstrumentChoice(QWidget* parent, const std::string& text, const std::vector<SettingsCandidate>& candidates,
                        const std::string& title)
{
    QDialog dialog(parent);
    dialog.setObjectName("whichInstrument");
    dialog.setWindowTitle(QString::fromStdString(title));

    // The icon and the question as a message box shows them.
    auto* icon = new QLabel(&dialog);
    const int iconSize = dialog.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &dialog);
    icon->setPixmap(dialog.style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, &dialog).pixmap(iconSize));
    icon->setAlignment(Qt::AlignTop);
    auto* question = new QLabel(QString::fromStdString(text), &dialog);
    question->setObjectName("question");
    question->setWordWrap(true);
    question->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* list = new CandidateList(&dialog);
    list->setObjectName("candidates");
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    const std::vector<std::string> rows = instrument_choice::Rows(candidates);
    int widest = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        auto* item = new QListWidgetItem(QString::fromStdString(rows[i]), list);
        if (i < candidates.size())  // the whole row, should it scroll, and the file it would restore
            item->setToolTip(item->text() + "\nSettings file: " + QString::fromStdString(candidates[i].file));
        widest = std::max(widest, list->fontMetrics().horizontalAdvance(item->text()));
    }
    list->clearSelection();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(false);
    QObject::connect(list, &QListWidget::itemSelectionChanged, &dialog, [&] {
        ok->setEnabled(instrument_choice::CanAccept(SelectedRow(list), candidates.size()));
    });
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, [&] {
        if (ok->isEnabled())
            dialog.accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addWidget(question, 1);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(top);
    layout->addWidget(list, 1);
    layout->addWidget(buttons);

    // Wide enough for every row (long by-id port names included) as far as
    // the screen allows; the list scrolls sideways beyond that, and the
    // dialog can be resized.
    const int frame = 2 * list->frameWidth();
    const int scrollBar = list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    int listWidth = widest + frame + scrollBar + 12;
    const int rowHeight = list->sizeHintForRow(0);
    const int shown = std::min<int>(static_cast<int>(rows.size()), kRowsShown);
    const int listHeight = rowHeight * shown + frame + scrollBar + 2;
    if (QScreen* screen = parent ? parent->screen() : dialog.screen()) {
        const QMargins margins = layout->contentsMargins();
        listWidth = std::min(listWidth, screen->availableGeometry().width() * 9 / 10 - margins.left() - margins.right());
    }
    list->preferred = QSize(std::max(listWidth, 360), listHeight);
    list->setMinimumHeight(rowHeight * 2 + frame + scrollBar);
    // Qt opens a window at most two thirds of the screen wide by itself.
    const int width = dialog.sizeHint().width();
    dialog.resize(width, layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : dialog.sizeHint().height());
    list->setFocus();

    if (dialog.exec() != QDialog::Accepted)
        return kStopUpdate;
    return instrument_choice::Answer(SelectedRow(list), candidates.size());
}
