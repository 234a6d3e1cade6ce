#include "settings/register_screen_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/dialog_parts.h"
#include "ui/dialog_width.h"

namespace kvx {

RegisterScreenDialog::RegisterScreenDialog(RegisterScreen& screen,
                                           std::function<void()> restartPolling, QWidget* parent)
    : QDialog(parent), screen_(screen), restartPolling_(std::move(restartPolling)) {
    const ScreenTable& table = screen.table();
    setObjectName(idName(table.dialogId));
    setWindowTitle(QString::fromUtf8(table.title));
    screen_.initialise();

    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    layout->addLayout(grid);

    // Columns: row label, one per table column, then the unit or range text.
    int row = 0;
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
        for (bool unitLine : {false, true}) {
            const Heading& h = unitLine ? table.columns[c].unit : table.columns[c].title;
            auto* l = new QLabel(QString::fromStdString(screen_.columnHeading(c, unitLine)), this);
            if (h.id != 0) l->setObjectName(idName(h.id));
            l->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
            grid->addWidget(l, unitLine ? 1 : 0, 1 + static_cast<int>(c));
        }
    }
    if (!table.columns.empty()) row = 2;

    std::map<std::string, int> rowOf;  // fields of one table row share their label
    for (const ScreenField& f : table.fields) {
        auto it = rowOf.find(f.label);
        int r;
        if (it == rowOf.end()) {
            r = row++;
            rowOf[f.label] = r;
            grid->addWidget(new QLabel(QString::fromUtf8(f.label), this), r, 0);
        } else {
            r = it->second;
        }
        auto* edit =
            new EntryField(f.editId, QString::fromStdString(screen_.shownText(f.editId)), this);
        edit->setMinimumWidth(90);
        grid->addWidget(edit, r, 1 + f.column);
        fields_[f.editId] = edit;
        // Right beside its field (in a table, where the next column has no field on this row).
        if (*f.unit) grid->addWidget(new QLabel(QString::fromUtf8(f.unit), this), r, 2 + f.column);
    }

    status_ = makeStatusLine(this);
    status_->setText(QString::fromStdString(screen_.status()));
    layout->addWidget(status_);

    auto* change = makeButton(kChangeButtonId, QString::fromUtf8(table.changeCaption), this, true);
    auto* save = makeButton(kSaveButtonId, QStringLiteral("Save && Close"), this);
    auto* close = makeButton(kCloseButtonId, QStringLiteral("Close"), this);
    addButtonRow(layout, {change, save, close});
    connect(change, &QPushButton::clicked, this, &RegisterScreenDialog::change);
    connect(save, &QPushButton::clicked, this, &RegisterScreenDialog::saveAndClose);
    connect(close, &QPushButton::clicked, this, &RegisterScreenDialog::reject);

    ensureTitleFits(this);
    if (!table.fields.empty()) fields_[table.fields.front().editId]->setFocus();
}

QString RegisterScreenDialog::statusText() const {
    return status_->text();
}

QString RegisterScreenDialog::fieldText(int editId) const {
    auto it = fields_.find(editId);
    return it == fields_.end() ? QString() : it->second->text();
}

void RegisterScreenDialog::change() {
    const int refused = screen_.change([this](int id) { return fieldText(id).toStdString(); });
    status_->setText(QString::fromStdString(screen_.status()));
    if (auto it = fields_.find(refused); it != fields_.end()) {
        it->second->setFocus(Qt::OtherFocusReason);
        it->second->selectAll();
    }
}

void RegisterScreenDialog::saveAndClose() {
    if (!screen_.save()) {
        status_->setText(QString::fromStdString(screen_.status()));
        return;
    }
    if (restartPolling_) restartPolling_();
    done(kCloseResult);
}

void RegisterScreenDialog::reject() {
    if (restartPolling_) restartPolling_();
    done(kCloseResult);
}

}  // namespace kvx
