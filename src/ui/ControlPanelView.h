#pragma once

#include <QWidget>
#include <functional>

class AppModel;
class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
class QToolButton;
class SettingRow;

// The content of the control panel window: every run-time setting as one
// scrolling form in four titled sections, then the randomize and reset buttons.
// Each control writes the model the moment it changes; the panel follows every
// model change (reset, clamps, the depth-mode exclusion) and holds no state.
//
// Controls carry object names for the shell and for tests: "maxPatchSizePicker",
// "colorModePicker", "colorInvertedSwitch", "blackLiftRow", "blackLiftSlider",
// "blackLiftValue", "gammaSlider", "gammaValue", "depthModePicker", "stereoLayoutRow",
// "stereoLayoutPicker", "stereoPairWidthRow", "stereoPairWidthPicker", "stereoPairGapRow",
// "stereoPairGapPicker", "fusionMarksRow", "fusionMarksSwitch",
// "stereoDepthRow", "stereoDepthPicker", "stripColumnsRow", "stripColumnsDecrement",
// "stripColumnsIncrement", "stripColumnsValue", "animationSpeedPicker", "rotationSwitch",
// "phaseSwitch", "breathingSwitch", "randomSpinSwitch", "frameRatePicker", "renderScalePicker",
// "randomizeButton", "resetButton". A segmented picker's buttons are named
// "<picker>Segment0", "<picker>Segment1", ...
class ControlPanelView : public QWidget {
    Q_OBJECT
public:
    // The reset button calls reset (the shell's undoable reset), or the model's
    // resetToDefaults() when none is given.
    explicit ControlPanelView(AppModel& model, QWidget* parent = nullptr,
                              std::function<void()> reset = {});

    // The height that shows the whole form at this width, without scrolling.
    int wholeFormHeight(int width) const;

private:
    QWidget* makeSizeSection();
    QWidget* makeColorSection();
    QWidget* makeDepthSection();
    QWidget* makeAnimationSection();
    QWidget* makeButtonSection();
    SettingRow* row(const QString& caption, QWidget* control, const QString& toolTip);
    QWidget* makeSegmentedPicker(const QString& name, const QStringList& labels,
                                 QButtonGroup*& group);
    QCheckBox* makeSwitch(const QString& name, void (AppModel::*setter)(bool));
    QWidget* makeSlider(const QString& name, double lo, double hi, void (AppModel::*setter)(double),
                        QSlider*& slider, QLabel*& valueText);

    void chooseColorMode(int tag);
    void chooseDepthMode(int tag);
    void stepStripColumns(int delta);
    // Model to controls; never writes the model.
    void refresh();

    AppModel& m_model;
    std::function<void()> m_reset;
    bool m_updating = false;
    QWidget* m_form = nullptr;

    QButtonGroup* m_sizeGroup = nullptr;
    QComboBox* m_colorMode = nullptr;
    QCheckBox* m_inverted = nullptr;
    SettingRow* m_blackLiftRow = nullptr;
    QSlider* m_blackLift = nullptr;
    QLabel* m_blackLiftText = nullptr;
    QSlider* m_gamma = nullptr;
    QLabel* m_gammaText = nullptr;
    QComboBox* m_depthMode = nullptr;
    SettingRow* m_depthRow = nullptr;
    QButtonGroup* m_depthGroup = nullptr;
    SettingRow* m_stereoLayoutRow = nullptr;
    QComboBox* m_stereoLayout = nullptr;
    SettingRow* m_pairWidthRow = nullptr;
    QButtonGroup* m_pairWidthGroup = nullptr;
    SettingRow* m_pairGapRow = nullptr;
    QButtonGroup* m_pairGapGroup = nullptr;
    SettingRow* m_fusionMarksRow = nullptr;
    QCheckBox* m_fusionMarks = nullptr;
    SettingRow* m_stripColumnsRow = nullptr;
    QToolButton* m_stripDecrement = nullptr;
    QToolButton* m_stripIncrement = nullptr;
    QLabel* m_stripColumnsText = nullptr;
    QButtonGroup* m_speedGroup = nullptr;
    QCheckBox* m_rotation = nullptr;
    QCheckBox* m_phase = nullptr;
    QCheckBox* m_breathing = nullptr;
    QCheckBox* m_randomSpin = nullptr;
    QButtonGroup* m_frameRateGroup = nullptr;
    QButtonGroup* m_renderScaleGroup = nullptr;
};
