#include "ControlPanelView.h"

#include "AppModel.h"
#include "OptionEnums.h"
#include "SettingRow.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kSliderSteps = 1000;
constexpr int kSliderWidth = 160;
constexpr int kValueTextWidth = 40;
constexpr int kInlineSpacing = 8;
constexpr qint64 kStripColumnsMin = 2;
constexpr qint64 kStripColumnsMax = 6;

const double kPatchSizes[] = {64.0, 128.0, 192.0};

// A control that takes the wheel only once it has the keyboard focus: a wheel
// meant to scroll the form passes over it to the scroll area instead of quietly
// changing a setting. Clicking or tabbing to it gives it the focus; the wheel
// does not.
template <typename Control> class FocusedWheel : public Control {
public:
    template <typename... Args> explicit FocusedWheel(Args&&... args) : Control(args...) {
        this->setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void wheelEvent(QWheelEvent* event) override {
        if (!this->hasFocus()) {
            event->ignore();
            return;
        }
        Control::wheelEvent(event);
    }
};

QGroupBox* makeSection(const QString& title, const QList<QWidget*>& rows) {
    auto* box = new QGroupBox(title);
    auto* layout = new QVBoxLayout(box);
    layout->setSpacing(0);
    for (QWidget* row : rows)
        layout->addWidget(row);
    return box;
}

QLabel* makeValueText(const QString& name, int minWidth) {
    auto* label = new QLabel;
    label->setObjectName(name);
    label->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    label->setAlignment(Qt::AlignTrailing | Qt::AlignVCenter);
    label->setMinimumWidth(minWidth);
    return label;
}

// Shows segment `id`, or none for -1; an exclusive group cannot uncheck its last button.
void showSegment(QButtonGroup* group, int id) {
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons())
        button->setChecked(group->id(button) == id);
    group->setExclusive(true);
}

int sliderPosition(double value, double lo, double hi) {
    return static_cast<int>(
        std::lround((std::clamp(value, lo, hi) - lo) / (hi - lo) * kSliderSteps));
}

// Keeps a small control (a switch) at its natural size at the trailing end of the
// row's control area, where the hit area matches what is drawn.
QWidget* trailing(QWidget* control) {
    auto* box = new QWidget;
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(1);
    layout->addWidget(control, 0, Qt::AlignVCenter);
    return box;
}

} // namespace

ControlPanelView::ControlPanelView(AppModel& model, QWidget* parent, std::function<void()> reset)
    : QWidget(parent), m_model(model), m_reset(std::move(reset)) {
    setMinimumSize(260, 300);

    auto* content = new QWidget;
    m_form = content;
    auto* form = new QVBoxLayout(content);
    form->addWidget(makeSizeSection());
    form->addWidget(makeColorSection());
    form->addWidget(makeDepthSection());
    form->addWidget(makeAnimationSection());
    form->addWidget(makeButtonSection());
    form->addStretch(1);

    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("controlPanelScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(content);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    // The panel opens with no control focused: the focus rests on the form,
    // where Space (the main window's pause key) does nothing and the arrow and
    // page keys scroll. Tab walks on to the controls.
    scroll->setFocusPolicy(Qt::StrongFocus);
    scroll->setFocus(Qt::OtherFocusReason);
    setTabOrder(scroll, findChild<QWidget*>(QStringLiteral("maxPatchSizePickerSegment0")));

    connect(&m_model, &AppModel::changed, this, &ControlPanelView::refresh);
    refresh();
}

int ControlPanelView::wholeFormHeight(int width) const {
    // Rows grow taller as they narrow.
    return m_form->hasHeightForWidth() ? m_form->heightForWidth(width)
                                       : m_form->sizeHint().height();
}

SettingRow* ControlPanelView::row(const QString& caption, QWidget* control,
                                  const QString& toolTip) {
    auto* settingRow = new SettingRow(caption, control);
    // Shown over the caption and the control alike.
    settingRow->setToolTip(toolTip);
    return settingRow;
}

QWidget* ControlPanelView::makeSegmentedPicker(const QString& name, const QStringList& labels,
                                               QButtonGroup*& group) {
    auto* picker = new QWidget;
    picker->setObjectName(name);
    auto* layout = new QHBoxLayout(picker);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    group = new QButtonGroup(picker);
    for (int i = 0; i < labels.size(); ++i) {
        auto* button = new QPushButton(labels[i]);
        button->setObjectName(name + QStringLiteral("Segment") + QString::number(i));
        button->setCheckable(true);
        button->setAutoDefault(false);
        group->addButton(button, i);
        layout->addWidget(button);
    }
    return picker;
}

QCheckBox* ControlPanelView::makeSwitch(const QString& name, void (AppModel::*setter)(bool)) {
    auto* box = new QCheckBox;
    box->setObjectName(name);
    connect(box, &QCheckBox::toggled, this, [this, setter](bool on) {
        if (!m_updating)
            (m_model.*setter)(on);
    });
    return box;
}

QWidget* ControlPanelView::makeSlider(const QString& name, double lo, double hi,
                                      void (AppModel::*setter)(double), QSlider*& slider,
                                      QLabel*& valueText) {
    auto* line = new QWidget;
    auto* layout = new QHBoxLayout(line);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kInlineSpacing);
    slider = new FocusedWheel<QSlider>(Qt::Horizontal);
    slider->setObjectName(name + QStringLiteral("Slider"));
    slider->setRange(0, kSliderSteps);
    slider->setFixedWidth(kSliderWidth);
    valueText = makeValueText(name + QStringLiteral("Value"), kValueTextWidth);
    valueText->setFixedWidth(kValueTextWidth);
    layout->addWidget(slider, 0, Qt::AlignVCenter);
    layout->addWidget(valueText, 0, Qt::AlignVCenter);
    // Tracking is on, so every intermediate position of a drag reaches the model.
    connect(slider, &QSlider::valueChanged, this, [this, setter, lo, hi](int position) {
        if (!m_updating)
            (m_model.*setter)(lo + (hi - lo) * position / kSliderSteps);
    });
    return line;
}

QWidget* ControlPanelView::makeSizeSection() {
    QWidget* picker = makeSegmentedPicker(QStringLiteral("maxPatchSizePicker"),
                                          {tr("小"), tr("中"), tr("大")}, m_sizeGroup);
    connect(m_sizeGroup, &QButtonGroup::idClicked, this, [this](int id) {
        if (!m_updating)
            m_model.setMaxPatchSize(kPatchSizes[id]);
    });
    return makeSection(
        tr("サイズ"), {row(tr("ガボールサイズ"), picker, tr("パッチ1枚の最大の大きさ(ピクセル)"))});
}

QWidget* ControlPanelView::makeColorSection() {
    m_colorMode = new FocusedWheel<QComboBox>;
    m_colorMode->setObjectName(QStringLiteral("colorModePicker"));
    m_colorMode->addItems({tr("モノクロ"), tr("全体色"), tr("個別色")});
    connect(m_colorMode, &QComboBox::activated, this, [this](int tag) {
        if (!m_updating)
            chooseColorMode(tag);
    });

    m_inverted = makeSwitch(QStringLiteral("colorInvertedSwitch"), &AppModel::setIsColorInverted);

    QWidget* blackLift = makeSlider(QStringLiteral("blackLift"), 0.0, 1.0,
                                    &AppModel::setDisplayBlackLift, m_blackLift, m_blackLiftText);
    // The slider lifts the darkest displayed values, which are white while inverted.
    m_blackLiftRow = row(tr("黒レベル"), blackLift, tr("表示の最も暗い部分を持ち上げます"));
    m_blackLiftRow->setObjectName(QStringLiteral("blackLiftRow"));

    QWidget* gamma = makeSlider(QStringLiteral("gamma"), 0.5, 2.0, &AppModel::setDisplayGamma,
                                m_gamma, m_gammaText);

    return makeSection(
        tr("色"),
        {row(tr("モード"), m_colorMode, tr("白黒、全体を漂う色、パッチごとの色から選びます")),
         row(tr("反転"), trailing(m_inverted), tr("明暗を反転します")), m_blackLiftRow,
         row(tr("ガンマ"), gamma, tr("表示のガンマ補正"))});
}

QWidget* ControlPanelView::makeDepthSection() {
    m_depthMode = new FocusedWheel<QComboBox>;
    m_depthMode->setObjectName(QStringLiteral("depthModePicker"));
    m_depthMode->addItems({tr("なし"), tr("ステレオペア"), tr("オートステレオグラム")});
    connect(m_depthMode, &QComboBox::activated, this, [this](int tag) {
        if (!m_updating)
            chooseDepthMode(tag);
    });

    auto* stepper = new QWidget;
    auto* layout = new QHBoxLayout(stepper);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kInlineSpacing);
    m_stripColumnsText = makeValueText(QStringLiteral("stripColumnsValue"), 35);
    m_stripDecrement = new QToolButton;
    m_stripDecrement->setObjectName(QStringLiteral("stripColumnsDecrement"));
    m_stripDecrement->setText(QStringLiteral("−"));
    m_stripIncrement = new QToolButton;
    m_stripIncrement->setObjectName(QStringLiteral("stripColumnsIncrement"));
    m_stripIncrement->setText(QStringLiteral("+"));
    layout->addStretch(1);
    layout->addWidget(m_stripDecrement, 0, Qt::AlignVCenter);
    layout->addWidget(m_stripIncrement, 0, Qt::AlignVCenter);
    layout->addWidget(m_stripColumnsText, 0, Qt::AlignVCenter);
    connect(m_stripDecrement, &QToolButton::clicked, this, [this] { stepStripColumns(-1); });
    connect(m_stripIncrement, &QToolButton::clicked, this, [this] { stepStripColumns(+1); });

    m_stripColumnsRow = row(tr("ストリップ列数"), stepper, tr("オートステレオグラムの縦の帯の数"));
    m_stripColumnsRow->setObjectName(QStringLiteral("stripColumnsRow"));

    QStringList depthLabels;
    for (DepthOption option : DepthOptions::allCases())
        depthLabels << DepthOptions::label(option);
    QWidget* depth =
        makeSegmentedPicker(QStringLiteral("stereoDepthPicker"), depthLabels, m_depthGroup);
    connect(m_depthGroup, &QButtonGroup::idClicked, this, [this](int id) {
        if (!m_updating)
            DepthOptions::apply(DepthOptions::allCases().at(id), m_model);
    });
    m_depthRow = row(tr("深さ"), depth, tr("ステレオペアの奥行き(右目の縞のずれ)"));
    m_depthRow->setObjectName(QStringLiteral("stereoDepthRow"));

    m_stereoLayout = new FocusedWheel<QComboBox>;
    m_stereoLayout->setObjectName(QStringLiteral("stereoLayoutPicker"));
    for (StereoLayout layout : StereoLayouts::allCases())
        m_stereoLayout->addItem(StereoLayouts::label(layout));
    connect(m_stereoLayout, &QComboBox::activated, this, [this](int index) {
        if (!m_updating)
            m_model.setStereoLayout(StereoLayouts::allCases().at(index));
    });
    m_stereoLayoutRow = row(tr("配置"), m_stereoLayout,
                            tr("並列・交差は裸眼で、アナグリフは赤/シアンの眼鏡で、"
                               "行インターリーブは偏光式の3Dモニターで見ます"));
    m_stereoLayoutRow->setObjectName(QStringLiteral("stereoLayoutRow"));

    auto centimetrePicker = [this](const QString& name, const QList<double>& values,
                                   QString (*label)(double), void (AppModel::*setter)(double),
                                   QButtonGroup*& group) {
        QStringList labels;
        for (double value : values)
            labels << label(value);
        QWidget* picker = makeSegmentedPicker(name, labels, group);
        connect(group, &QButtonGroup::idClicked, this, [this, values, setter](int id) {
            if (!m_updating)
                (m_model.*setter)(values.at(id));
        });
        return picker;
    };
    m_pairWidthRow = row(tr("画像幅"),
                         centimetrePicker(QStringLiteral("stereoPairWidthPicker"),
                                          StereoPairWidths::allCases(), &StereoPairWidths::label,
                                          &AppModel::setStereoPairWidth, m_pairWidthGroup),
                         tr("左右それぞれの画像の幅。平行法では目の間隔(約6 cm)以下が見やすい"));
    m_pairWidthRow->setObjectName(QStringLiteral("stereoPairWidthRow"));
    m_pairGapRow =
        row(tr("間隔"),
            centimetrePicker(QStringLiteral("stereoPairGapPicker"), StereoPairGaps::allCases(),
                             &StereoPairGaps::label, &AppModel::setStereoPairGap, m_pairGapGroup),
            tr("左右の画像の間のすき間(平均の灰色)"));
    m_pairGapRow->setObjectName(QStringLiteral("stereoPairGapRow"));
    m_fusionMarks = makeSwitch(QStringLiteral("fusionMarksSwitch"), &AppModel::setShowFusionMarks);
    m_fusionMarksRow = row(tr("融合マーク"), trailing(m_fusionMarks),
                           tr("左右の画像の上の点。二つの点が一つに重なるように見ます"));
    m_fusionMarksRow->setObjectName(QStringLiteral("fusionMarksRow"));

    return makeSection(tr("立体視"),
                       {row(tr("モード"), m_depthMode, tr("立体視の見せ方を選びます")),
                        m_stereoLayoutRow, m_pairWidthRow, m_pairGapRow, m_fusionMarksRow,
                        m_depthRow, m_stripColumnsRow});
}

QWidget* ControlPanelView::makeAnimationSection() {
    QStringList speedLabels;
    for (AnimationSpeed speed : AnimationSpeeds::allCases())
        speedLabels << AnimationSpeeds::label(speed);
    QWidget* speed =
        makeSegmentedPicker(QStringLiteral("animationSpeedPicker"), speedLabels, m_speedGroup);
    connect(m_speedGroup, &QButtonGroup::idClicked, this, [this](int id) {
        if (!m_updating)
            AnimationSpeeds::apply(AnimationSpeeds::allCases().at(id), m_model);
    });

    m_rotation =
        makeSwitch(QStringLiteral("rotationSwitch"), &AppModel::setIsRotationAnimationEnabled);
    m_phase = makeSwitch(QStringLiteral("phaseSwitch"), &AppModel::setIsPhaseAnimationEnabled);
    m_breathing = makeSwitch(QStringLiteral("breathingSwitch"), &AppModel::setIsBreathingEnabled);
    m_randomSpin =
        makeSwitch(QStringLiteral("randomSpinSwitch"), &AppModel::setIsRandomTileSpinEnabled);

    QStringList fpsLabels;
    for (FrameRateOption option : FrameRateOptions::allCases())
        fpsLabels << FrameRateOptions::label(option);
    QWidget* fps =
        makeSegmentedPicker(QStringLiteral("frameRatePicker"), fpsLabels, m_frameRateGroup);
    connect(m_frameRateGroup, &QButtonGroup::idClicked, this, [this](int id) {
        if (!m_updating)
            FrameRateOptions::apply(FrameRateOptions::allCases().at(id), m_model);
    });

    QStringList scaleLabels;
    for (RenderScaleOption option : RenderScaleOptions::allCases())
        scaleLabels << RenderScaleOptions::label(option);
    QWidget* scale =
        makeSegmentedPicker(QStringLiteral("renderScalePicker"), scaleLabels, m_renderScaleGroup);
    connect(m_renderScaleGroup, &QButtonGroup::idClicked, this, [this](int id) {
        if (!m_updating)
            RenderScaleOptions::apply(RenderScaleOptions::allCases().at(id), m_model);
    });

    return makeSection(
        tr("アニメーション"),
        {row(tr("速度"), speed, tr("縞の流れと回転の速さ")),
         row(tr("回転"), trailing(m_rotation), tr("パッチを回転させます")),
         row(tr("位相"), trailing(m_phase), tr("縞を流します")),
         row(tr("パルス"), trailing(m_breathing), tr("パッチの広がりを脈打たせます")),
         row(tr("ランダムスピン"), trailing(m_randomSpin), tr("ときどきパッチを1回転半させます")),
         row(tr("FPS上限"), fps, tr("アニメーションのフレームレートの上限")),
         row(tr("描画解像度"), scale, tr("アニメーション中に描く解像度"))});
}

QWidget* ControlPanelView::makeButtonSection() {
    auto* randomize = new QPushButton(tr("ランダマイズ"));
    randomize->setObjectName(QStringLiteral("randomizeButton"));
    randomize->setAutoDefault(false);
    randomize->setToolTip(tr("新しい模様を作ります"));
    connect(randomize, &QPushButton::clicked, &m_model, &AppModel::requestRandomize);
    auto* reset = new QPushButton(tr("デフォルトに戻す"));
    reset->setObjectName(QStringLiteral("resetButton"));
    reset->setAutoDefault(false);
    reset->setToolTip(tr("設定を初期値に戻します"));
    connect(reset, &QPushButton::clicked, this, [this] {
        if (m_reset)
            m_reset();
        else
            m_model.resetToDefaults();
    });
    return makeSection(QString(), {randomize, reset});
}

void ControlPanelView::chooseColorMode(int tag) {
    m_model.setIsIlluminantMode(tag == 1);
    m_model.setIsColorMode(tag == 2);
}

void ControlPanelView::chooseDepthMode(int tag) {
    switch (tag) {
    case 0:
        m_model.setIsStereoscopicMode(false);
        m_model.setIsAutostereogramMode(false);
        break;
    case 1:
        m_model.setIsStereoscopicMode(true);
        m_model.setIsAutostereogramMode(false);
        break;
    case 2:
        m_model.setIsStereoscopicMode(false);
        m_model.setIsAutostereogramMode(true);
        break;
    default:
        break;
    }
}

void ControlPanelView::stepStripColumns(int delta) {
    const qint64 next =
        std::clamp(m_model.sirdsStripColumns() + delta, kStripColumnsMin, kStripColumnsMax);
    m_model.setSirdsStripColumns(next);
}

void ControlPanelView::refresh() {
    m_updating = true;

    const double* size =
        std::find(std::begin(kPatchSizes), std::end(kPatchSizes), m_model.maxPatchSize());
    showSegment(m_sizeGroup,
                size == std::end(kPatchSizes) ? -1 : int(size - std::begin(kPatchSizes)));

    m_colorMode->setCurrentIndex(m_model.isIlluminantMode() ? 1 : m_model.isColorMode() ? 2 : 0);
    m_inverted->setChecked(m_model.isColorInverted());

    m_blackLiftRow->setCaption(m_model.isColorInverted() ? tr("白レベル") : tr("黒レベル"));
    const double lift = m_model.displayBlackLift();
    m_blackLift->setValue(sliderPosition(lift, 0.0, 1.0));
    m_blackLiftText->setText(QString::asprintf("%.0f%%", lift * 100));
    const double gamma = m_model.displayGamma();
    m_gamma->setValue(sliderPosition(gamma, 0.5, 2.0));
    m_gammaText->setText(QString::asprintf("%.2f", gamma));

    const bool pair = m_model.isStereoscopicMode();
    m_depthMode->setCurrentIndex(m_model.isAutostereogramMode() ? 2 : pair ? 1 : 0);
    m_stereoLayoutRow->setVisible(pair);
    m_stereoLayout->setCurrentIndex(StereoLayouts::allCases().indexOf(m_model.stereoLayout()));
    const bool sideBySide = pair && StereoLayouts::isSideBySide(m_model.stereoLayout());
    m_pairWidthRow->setVisible(sideBySide);
    showSegment(m_pairWidthGroup, StereoPairWidths::allCases().indexOf(m_model.stereoPairWidth()));
    m_pairGapRow->setVisible(sideBySide);
    showSegment(m_pairGapGroup, StereoPairGaps::allCases().indexOf(m_model.stereoPairGap()));
    m_fusionMarksRow->setVisible(sideBySide);
    m_fusionMarks->setChecked(m_model.showFusionMarks());

    m_depthRow->setVisible(m_model.isStereoscopicMode());
    showSegment(m_depthGroup, DepthOptions::allCases().indexOf(
                                  DepthOptions::nearestOption(m_model.stereoPhaseDisparity())));

    m_stripColumnsRow->setVisible(m_model.isAutostereogramMode() && !m_model.isStereoscopicMode());
    const qint64 columns =
        std::clamp(m_model.sirdsStripColumns(), kStripColumnsMin, kStripColumnsMax);
    m_stripColumnsText->setText(tr("%d列").replace(QStringLiteral("%d"), QString::number(columns)));
    m_stripDecrement->setEnabled(columns > kStripColumnsMin);
    m_stripIncrement->setEnabled(columns < kStripColumnsMax);

    const QList<AnimationSpeed> speeds = AnimationSpeeds::allCases();
    showSegment(m_speedGroup,
                speeds.indexOf(AnimationSpeeds::nearestOption(m_model.phaseAnimationSpeed(),
                                                              m_model.rotationAnimationSpeed())));
    m_rotation->setChecked(m_model.isRotationAnimationEnabled());
    m_phase->setChecked(m_model.isPhaseAnimationEnabled());
    m_breathing->setChecked(m_model.isBreathingEnabled());
    m_randomSpin->setChecked(m_model.isRandomTileSpinEnabled());
    showSegment(m_frameRateGroup, FrameRateOptions::allCases().indexOf(
                                      FrameRateOptions::nearestOption(m_model.animationMaxFPS())));
    showSegment(m_renderScaleGroup,
                RenderScaleOptions::allCases().indexOf(
                    RenderScaleOptions::nearestOption(m_model.animationRenderScale())));

    m_updating = false;
}
