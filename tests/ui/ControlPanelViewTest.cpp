#include "ControlPanelView.h"
#include "AppModel.h"
#include "OptionEnums.h"
#include "SettingRow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <gtest/gtest.h>

namespace {

struct Panel {
    std::shared_ptr<MemoryPreferencesStore> store = std::make_shared<MemoryPreferencesStore>();
    AppModel model{store};
    ControlPanelView view{model};

    Panel() {
        view.resize(400, 700);
        view.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
    }

    template <typename T> T* find(const char* name) {
        T* child = view.findChild<T*>(QLatin1String(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    QPushButton* segment(const char* picker, int i) {
        return find<QPushButton>((QByteArray(picker) + "Segment" + QByteArray::number(i)).data());
    }
    int shownSegment(const char* picker) {
        for (int i = 0; i < 3; ++i)
            if (segment(picker, i)->isChecked())
                return i;
        return -1;
    }
    void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
};

} // namespace

TEST(ControlPanelView, EveryControlAssignsItsSettingAndTakesTheWheelOnlyWhenFocused) {
    Panel p;
    const std::pair<const char*, bool (AppModel::*)() const> switches[] = {
        {"colorInvertedSwitch", &AppModel::isColorInverted},
        {"rotationSwitch", &AppModel::isRotationAnimationEnabled},
        {"phaseSwitch", &AppModel::isPhaseAnimationEnabled},
        {"breathingSwitch", &AppModel::isBreathingEnabled},
        {"randomSpinSwitch", &AppModel::isRandomTileSpinEnabled}};
    for (const auto& [name, getter] : switches) {
        p.click(p.find<QCheckBox>(name));
        EXPECT_TRUE((p.model.*getter)()) << name;
    }

    // A drag assigns every position it passes through.
    auto* lift = p.find<QSlider>("blackLiftSlider");
    lift->setSliderDown(true);
    for (int pos : {100, 200, 250}) {
        lift->setSliderPosition(pos);
        EXPECT_DOUBLE_EQ(p.model.displayBlackLift(), pos / 1000.0);
    }
    lift->setSliderDown(false);
    EXPECT_EQ(p.find<QLabel>("blackLiftValue")->text(), QStringLiteral("25%"));

    p.click(p.segment("maxPatchSizePicker", 0));
    p.click(p.segment("animationSpeedPicker", 2));
    p.click(p.segment("frameRatePicker", 2));
    p.click(p.segment("renderScalePicker", 0));
    EXPECT_EQ(p.model.maxPatchSize(), 64.0);
    EXPECT_EQ(p.model.rotationAnimationSpeed(), 90.0);
    EXPECT_EQ(p.model.phaseAnimationSpeed(), 2.0);
    EXPECT_EQ(p.model.animationMaxFPS(), 60.0);
    EXPECT_EQ(p.model.animationRenderScale(), 0.5);

    // The colour picker maps onto two flags.
    p.model.setIsIlluminantMode(true);
    auto* picker = p.find<QComboBox>("colorModePicker");
    EXPECT_EQ(picker->currentText(), QStringLiteral("全体色"));
    QTest::keyClick(picker, Qt::Key_Down); // 個別色
    EXPECT_TRUE(p.model.isColorMode());
    EXPECT_FALSE(p.model.isIlluminantMode());
    QTest::keyClick(picker, Qt::Key_Home); // モノクロ
    EXPECT_FALSE(p.model.isColorMode() || p.model.isIlluminantMode());

    // The reset button: every control shows the defaults again.
    p.model.setIsColorMode(true);
    p.model.setIsAutostereogramMode(true);
    p.click(p.find<QPushButton>("resetButton"));
    EXPECT_FALSE(p.find<QCheckBox>("phaseSwitch")->isChecked());
    EXPECT_EQ(p.find<QComboBox>("colorModePicker")->currentIndex(), 0);
    EXPECT_EQ(p.find<QComboBox>("depthModePicker")->currentIndex(), 0);
    EXPECT_FALSE(p.find<SettingRow>("stripColumnsRow")->isVisibleTo(&p.view));
    EXPECT_EQ(p.shownSegment("maxPatchSizePicker"), 1);
    EXPECT_EQ(p.shownSegment("animationSpeedPicker"), 1);
    EXPECT_EQ(p.shownSegment("renderScalePicker"), 2);

    // A control without the focus leaves the wheel alone, so that Qt passes it on to
    // the scroll area (a real wheel is checked end to end).
    // Following the model writes nothing back.
    p.model.setIsAutostereogramMode(true);
    int writes = p.store->writeCount();
    p.model.setDisplayGamma(1.3);
    p.model.setAnimationRenderScale(0.75);
    p.model.setIsColorInverted(true);
    p.model.setIsStereoscopicMode(true);          // shows the depth presets too
    EXPECT_EQ(p.store->writeCount(), writes + 5); // the exclusion writes one more key
    p.view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&p.view));
    writes = p.store->writeCount();

    const auto wheel = [](QWidget* target) {
        const QPointF at(target->width() / 2.0, target->height() / 2.0);
        QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
        return event.isAccepted();
    };
    const char* controls[] = {
        "gammaSlider",     "blackLiftSlider",           "colorModePicker",
        "depthModePicker", "stereoDepthPickerSegment0", "animationSpeedPickerSegment0",
        "rotationSwitch"};
    for (const char* name : controls)
        EXPECT_FALSE(wheel(p.find<QWidget>(name))) << name << " passes the wheel on";
    EXPECT_EQ(p.store->writeCount(), writes) << "no setting changed";

    // Focused, a control takes the wheel as usual.
    auto* gamma = p.find<QSlider>("gammaSlider");
    gamma->setFocus();
    EXPECT_TRUE(wheel(gamma));
    EXPECT_NE(p.model.displayGamma(), 1.3);
    auto* colour = p.find<QComboBox>("colorModePicker");
    colour->setFocus();
    EXPECT_TRUE(wheel(colour));
    EXPECT_TRUE(p.model.isIlluminantMode());

    // Every row says what it changes, side by side in a wide panel, stacked in
    // a narrow one.
    const QList<SettingRow*> rows = p.view.findChildren<SettingRow*>();
    for (const SettingRow* row : rows) {
        EXPECT_FALSE(row->toolTip().isEmpty()) << row->caption().toStdString();
        EXPECT_TRUE(!row->isVisible() || row->isWideLayout()) << row->caption().toStdString();
    }
    p.view.resize(260, 500); // the panel window's least width
    for (const SettingRow* row : rows) {
        if (row->isVisible()) {
            EXPECT_FALSE(row->isWideLayout()) << row->caption().toStdString();
            EXPECT_GT(row->height(), row->heightForWidth(400)) << "stacked is taller";
        }
    }
}

TEST(ControlPanelView, ValueTextsHighlightsDepthPickerAndStripColumnsStepper) {
    Panel p;
    p.model.setDisplayGamma(7.0); // clamped by the model, followed by the panel
    EXPECT_EQ(p.find<QLabel>("gammaValue")->text(), QStringLiteral("2.00"));

    // The slider lifts the darkest displayed values: black, or white when inverted.
    auto* liftRow = p.find<SettingRow>("blackLiftRow");
    EXPECT_EQ(liftRow->caption(), QStringLiteral("黒レベル"));
    p.model.setIsColorInverted(true);
    EXPECT_EQ(liftRow->caption(), QStringLiteral("白レベル"));

    p.model.setAnimationMaxFPS(45.0); // the nearest preset, the earlier on a tie
    EXPECT_EQ(p.shownSegment("frameRatePicker"), 1);

    p.model.setMaxPatchSize(100.0);
    EXPECT_EQ(p.shownSegment("maxPatchSizePicker"), -1);
    p.click(p.segment("maxPatchSizePicker", 2));
    EXPECT_EQ(p.model.maxPatchSize(), 192.0);
    EXPECT_EQ(p.shownSegment("maxPatchSizePicker"), 2);

    p.model.setSirdsStripColumns(4);
    auto* picker = p.find<QComboBox>("depthModePicker");
    auto* row = p.find<SettingRow>("stripColumnsRow");
    QTest::keyClick(picker, Qt::Key_Down); // a stereo pair
    EXPECT_TRUE(p.model.isStereoscopicMode());
    EXPECT_FALSE(row->isVisibleTo(&p.view));

    // Its layout; the pair's size rows only while the halves lie side by side.
    auto* layout = p.find<QComboBox>("stereoLayoutPicker");
    auto* widthRow = p.find<SettingRow>("stereoPairWidthRow");
    QTest::keyClick(layout, Qt::Key_Down);
    EXPECT_EQ(p.model.stereoLayout(), StereoLayout::cross);
    p.click(p.segment("stereoPairWidthPicker", 1));
    p.click(p.segment("stereoPairGapPicker", 3));
    p.click(p.find<QCheckBox>("fusionMarksSwitch"));
    EXPECT_EQ(p.model.stereoPairWidth(), 6.0);
    EXPECT_EQ(p.model.stereoPairGap(), 2.0);
    EXPECT_TRUE(p.model.showFusionMarks());
    QTest::keyClick(layout, Qt::Key_Down);
    EXPECT_EQ(p.model.stereoLayout(), StereoLayout::anaglyph);
    EXPECT_FALSE(widthRow->isVisibleTo(&p.view));

    // The depth presets show while a stereo pair is on: the nearest one, and a
    // choice writes the preset's disparity.
    auto* depthRow = p.find<SettingRow>("stereoDepthRow");
    EXPECT_TRUE(depthRow->isVisibleTo(&p.view));
    EXPECT_EQ(p.shownSegment("stereoDepthPicker"), 1) << "0.25 is nearest to 普通";
    p.click(p.segment("stereoDepthPicker", 2));
    EXPECT_EQ(p.model.stereoPhaseDisparity(), 0.75);
    p.model.setStereoPhaseDisparity(0.2);
    EXPECT_EQ(p.shownSegment("stereoDepthPicker"), 1);

    QTest::keyClick(picker, Qt::Key_End); // autostereogram during a stereo pair
    EXPECT_FALSE(p.model.isStereoscopicMode());
    EXPECT_TRUE(p.model.isAutostereogramMode());
    EXPECT_EQ(p.model.stereoLayout(), StereoLayout::anaglyph);
    EXPECT_TRUE(row->isVisibleTo(&p.view));
    EXPECT_FALSE(layout->isVisibleTo(&p.view));
    EXPECT_FALSE(depthRow->isVisibleTo(&p.view));

    auto* up = p.find<QToolButton>("stripColumnsIncrement");
    auto* down = p.find<QToolButton>("stripColumnsDecrement");
    for (int i = 0; i < 5; ++i)
        p.click(up);
    EXPECT_EQ(p.model.sirdsStripColumns(), 6);
    EXPECT_FALSE(up->isEnabled());
    for (int i = 0; i < 6; ++i)
        p.click(down);
    EXPECT_EQ(p.model.sirdsStripColumns(), 2);
    EXPECT_EQ(p.find<QLabel>("stripColumnsValue")->text(), QStringLiteral("2列"));

    // The model's own exclusion hides the row again.
    p.model.setIsStereoscopicMode(true);
    EXPECT_EQ(picker->currentIndex(), 1);
    EXPECT_FALSE(row->isVisibleTo(&p.view));
    QTest::keyClick(picker, Qt::Key_Home);
    EXPECT_FALSE(p.model.isStereoscopicMode() || p.model.isAutostereogramMode());
}
