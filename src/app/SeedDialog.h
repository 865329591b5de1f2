#pragma once

#include <QDialog>
#include <cstdint>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

// Asks for a pattern seed written as lumenweave-render --seed takes it. Says
// under the field what is wrong with the text, and takes it only once it is a seed.
class SeedDialog : public QDialog {
    Q_OBJECT
public:
    explicit SeedDialog(std::uint64_t current, QWidget* parent = nullptr);

    // The seed the text names, if it names one.
    std::optional<std::uint64_t> seed() const;

signals:
    void seedChosen(std::uint64_t seed);

private:
    void check();

    QLineEdit* m_edit;
    QLabel* m_message; // what is wrong with the text; a blank line while nothing is
    QPushButton* m_accept;
};
