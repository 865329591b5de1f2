#include "SeedDialog.h"

#include "FrameImage.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

SeedDialog::SeedDialog(std::uint64_t current, QWidget* parent)
    : QDialog(parent), m_edit(new QLineEdit(seedText(current))), m_message(new QLabel) {
    setObjectName(QStringLiteral("seedDialog"));
    setWindowTitle(tr("シードを入力"));
    m_edit->setObjectName(QStringLiteral("seedEdit"));
    m_edit->selectAll();
    m_message->setObjectName(QStringLiteral("seedMessage"));
    m_message->setStyleSheet(QStringLiteral("color: #c01c28;"));
    auto* rule = new QLabel(
        tr("0 から 18446744073709551615 までの10進数か、0x で始まる16進数で書いてください。"));
    rule->setWordWrap(true);
    setMinimumWidth(440);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    m_accept = buttons->button(QDialogButtonBox::Ok);
    // Qt's own text for this button is Latin.
    m_accept->setText(tr("表示"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_edit, &QLineEdit::textChanged, this, &SeedDialog::check);
    connect(this, &QDialog::accepted, this, [this] {
        if (const auto value = seed())
            emit seedChosen(*value);
    });

    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(tr("この模様のシード:"));
    label->setBuddy(m_edit);
    layout->addWidget(label);
    layout->addWidget(m_edit);
    layout->addWidget(m_message);
    layout->addWidget(rule);
    layout->addWidget(buttons);
    check();
}

std::optional<std::uint64_t> SeedDialog::seed() const {
    return parseSeed(m_edit->text());
}

void SeedDialog::check() {
    const bool ok = seed().has_value();
    m_accept->setEnabled(ok);
    // One line whatever was typed, so that the dialog keeps its size.
    const QString typed = m_message->fontMetrics().elidedText(m_edit->text(), Qt::ElideMiddle, 200);
    m_message->setText(ok || typed.isEmpty() ? QStringLiteral(" ")
                                             : tr("「%1」はシードではありません。").arg(typed));
}
