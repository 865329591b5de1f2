#include "RenderOptions.h"

#include "FrameImage.h"
#include "OptionEnums.h"
#include "RGBAImage.h"
#include "VideoFile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <cmath>
#include <limits>

namespace {

constexpr std::int64_t kMaxTimeSeconds = 86400;

struct Failure {
    QString message;
};

[[noreturn]] void fail(const QString& message) {
    throw Failure{message};
}

QString tr(const char* text) {
    return QCoreApplication::translate("lumenweave-render", text);
}

// The options that take a value, and the flags; nothing else is accepted.
const QStringList& valueOptions() {
    static const QStringList names = {"seed",          "size",        "scale",
                                      "patch-size",    "phase",       "breathing-phase",
                                      "disparity",     "columns",     "black-level",
                                      "render-scale",  "generator",   "time",
                                      "speed",         "phase-speed", "rotation-speed",
                                      "spin-interval", "duration",    "fps",
                                      "stereo-layout", "pair-width",  "gap",
                                      "batch"};
    return names;
}

const QStringList& flagOptions() {
    static const QStringList names = {
        "stereo",     "autostereogram", "color",  "rotation", "phase-drift",  "breathing", "spins",
        "illuminant", "loop",           "frames", "help",     "fusion-marks", "verbose"};
    return names;
}

// What a scope leaves out of the tables above.
bool allowedIn(OptionScope scope, const QString& name) {
    static const QStringList commandLineOnly = {"help", "batch", "verbose"};
    static const QStringList toFiles = {"frames", "loop", "generator"};
    static const QStringList timing = {"duration", "fps"};
    switch (scope) {
    case OptionScope::commandLine:
        return true;
    case OptionScope::batchLine:
        return !commandLineOnly.contains(name);
    case OptionScope::frames:
        return !commandLineOnly.contains(name) && !toFiles.contains(name);
    case OptionScope::picture:
        return !commandLineOnly.contains(name) && !toFiles.contains(name) && !timing.contains(name);
    }
    return false;
}

// Plain decimal notation only: no sign but '-', no spaces, no nan or inf spellings.
bool isDecimal(const QString& text) {
    static const QRegularExpression pattern(
        QStringLiteral("^-?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)([eE][-+]?[0-9]+)?$"));
    return pattern.match(text).hasMatch();
}

class Values {
public:
    QMap<QString, QString> values; // the last one given counts
    QStringList flags;
    QStringList positional;

    bool has(const char* name) const {
        return values.contains(QLatin1String(name)) || flags.contains(QLatin1String(name));
    }
    QString text(const char* name, const char* fallback) const {
        return values.value(QLatin1String(name), QLatin1String(fallback));
    }

    double number(const char* name, const char* fallback, double lo, double hi) const {
        const QString t = text(name, fallback);
        bool ok = false;
        const double v = isDecimal(t) ? t.toDouble(&ok) : 0.0;
        if (!ok || !std::isfinite(v) || v < lo || v > hi)
            fail(tr("--%1 には %2 から %3 までの数を指定してください（'%4' は使えません）")
                     .arg(QLatin1String(name))
                     .arg(lo)
                     .arg(hi)
                     .arg(t));
        return v;
    }

    // A decimal taken exactly as written.
    Rational exact(const char* name, const char* fallback, double lo, double hi) const {
        const double v = number(name, fallback, lo, hi);
        const auto r = Rational::fromDouble(v);
        if (!r)
            fail(tr("--%1 の値 '%2' は扱えません").arg(QLatin1String(name), text(name, fallback)));
        return *r;
    }

    qint64 whole(const char* name, const char* fallback, qint64 lo, qint64 hi) const {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,18}$"));
        const QString t = text(name, fallback);
        const qint64 v = digits.match(t).hasMatch() ? t.toLongLong() : lo - 1;
        if (v < lo || v > hi)
            fail(tr("--%1 には %2 から %3 までの整数を指定してください（'%4' は使えません）")
                     .arg(QLatin1String(name))
                     .arg(lo)
                     .arg(hi)
                     .arg(t));
        return v;
    }
};

Values split(const QStringList& arguments, OptionScope scope) {
    Values v;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (optionsEnded || !a.startsWith(QLatin1Char('-')) || a == QLatin1String("-")) {
            v.positional << a;
            continue;
        }
        if (a == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (a == QLatin1String("-h")) {
            v.flags << QStringLiteral("help");
            continue;
        }
        const qsizetype equals = a.indexOf(QLatin1Char('='));
        const QString name = a.mid(2, equals < 0 ? -1 : equals - 2);
        if (!a.startsWith(QLatin1String("--")) || !allowedIn(scope, name))
            fail(tr("知らないオプションです: %1").arg(a));
        if (flagOptions().contains(name)) {
            if (equals >= 0)
                fail(tr("--%1 は値を取りません").arg(name));
            v.flags << name;
        } else if (valueOptions().contains(name)) {
            if (equals >= 0)
                v.values[name] = a.mid(equals + 1);
            else if (i + 1 < arguments.size())
                v.values[name] = arguments[++i];
            else
                fail(tr("--%1 には値が必要です").arg(name));
        } else {
            fail(tr("知らないオプションです: %1").arg(a));
        }
    }
    return v;
}

std::uint64_t seedValue(const QString& text) {
    const std::optional<std::uint64_t> v = parseSeed(text);
    if (!v)
        fail(tr("--seed には 0 から 18446744073709551615 までの10進数か 0x で始まる16進数を"
                "指定してください（'%1' は使えません）")
                 .arg(text));
    return *v;
}

void sizeValue(const QString& text, RenderRequest& request) {
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d+(?:\\.\\d+)?)x(\\d+(?:\\.\\d+)?)$"));
    const QRegularExpressionMatch m = pattern.match(text);
    const double w = m.hasMatch() ? m.captured(1).toDouble() : -1;
    const double h = m.hasMatch() ? m.captured(2).toDouble() : -1;
    if (w < 1 || h < 1 || w > kMaxImageSide || h > kMaxImageSide)
        fail(tr("--size には 幅x高さ をポイントで指定してください（1 から %1、'%2' は使えません）")
                 .arg(kMaxImageSide)
                 .arg(text));
    request.viewWidth = w;
    request.viewHeight = h;
}

AppModel::RenderingMode generatorValue(const QString& text) {
    if (text == QLatin1String("cpu"))
        return AppModel::RenderingMode::cpu;
    if (text == QLatin1String("filter"))
        return AppModel::RenderingMode::imageFilter;
    if (text == QLatin1String("gpu"))
        return AppModel::RenderingMode::gpu;
    fail(tr("--generator には gpu、filter、cpu のどれかを指定してください（'%1' は使えません）")
             .arg(text));
}

AnimationSpeed speedValue(const QString& text) {
    for (AnimationSpeed s : AnimationSpeeds::allCases())
        if (text == AnimationSpeeds::label(s) || text == AnimationSpeeds::rawValue(s))
            return s;
    fail(tr("--speed には 遅い、普通、速い（slow、normal、fast）のどれかを指定してください"
            "（'%1' は使えません）")
             .arg(text));
}

StereoLayout layoutValue(const QString& text) {
    for (StereoLayout layout : StereoLayouts::allCases())
        if (text == StereoLayouts::rawValue(layout) || text == StereoLayouts::label(layout))
            return layout;
    fail(tr("--stereo-layout には parallel、cross、anaglyph、interleaved のどれかを指定して"
            "ください（'%1' は使えません）")
             .arg(text));
}

// A side-by-side pair's width, gap and marks, in points at the reference
// points per centimetre.
StereoPairSize pairValue(const Values& v, const RenderRequest& r) {
    const bool asked = v.has("pair-width") || v.has("gap") || v.has("fusion-marks");
    if (asked && !(r.isStereoscopicMode && StereoLayouts::isSideBySide(r.stereoLayout)))
        fail(tr("--pair-width、--gap、--fusion-marks は並列か交差のステレオペアにだけ使えます"));
    StereoPairSize pair;
    const QString width = v.text("pair-width", "full");
    if (width != QLatin1String("full"))
        pair.halfWidth = v.number("pair-width", "", 0.1, 100) * kReferencePointsPerCentimetre;
    pair.gap = v.number("gap", "0", 0, 20) * kReferencePointsPerCentimetre;
    pair.marks = v.has("fusion-marks");
    return pair;
}

// Seconds as a decimal, or exactly as a fraction: frame k of a video at F fps is k/F.
Rational timeValue(const Values& v) {
    static const QRegularExpression fraction(QStringLiteral("^([0-9]{1,12})/([0-9]{1,12})$"));
    const QString text = v.text("time", "0");
    const QRegularExpressionMatch m = fraction.match(text);
    if (!m.hasMatch())
        return v.exact("time", "0", 0, kMaxTimeSeconds);
    const auto t = Rational::make(m.captured(1).toLongLong(), m.captured(2).toLongLong());
    if (!t || Rational::less(Rational(kMaxTimeSeconds), *t).value_or(true))
        fail(tr("--time には 0 から %1 までの秒数を指定してください（'%2' は使えません）")
                 .arg(kMaxTimeSeconds)
                 .arg(text));
    return *t;
}

RenderOptions::Output outputKind(const QString& path, bool frames, bool video) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    const bool png = path == QLatin1String("-") || suffix == QLatin1String("png");
    const bool movie = VideoFile::formatOf(path).has_value();
    if (!png && !movie)
        fail(tr("出力ファイルの拡張子は .png、.mkv、.mp4、.webm のどれかにしてください（%1）")
                 .arg(path));
    if (frames && (!png || path == QLatin1String("-")))
        fail(tr("--frames には .png で終わる出力ファイルが必要です"));
    if (frames && !video)
        fail(tr("--frames には --duration か --loop が必要です"));
    if (movie && !video)
        fail(tr("動画には --duration か --loop が必要です"));
    if (png && video && !frames)
        fail(tr("PNG の連番には --frames が必要です"));
    if (movie)
        return RenderOptions::Output::video;
    return frames ? RenderOptions::Output::pngSequence : RenderOptions::Output::png;
}

RenderOptions parse(const QStringList& arguments, OptionScope scope) {
    const Values v = split(arguments, scope);
    RenderOptions o;
    if (v.has("help")) {
        o.help = true;
        return o;
    }
    o.verbose = v.has("verbose");
    if (v.has("batch")) {
        if (v.values.size() + v.flags.size() + v.positional.size() != (o.verbose ? 2 : 1))
            fail(tr("--batch と一緒に使えるのは --verbose だけです"));
        o.batch = v.text("batch", "");
        return o;
    }
    const bool toFiles = scope == OptionScope::commandLine || scope == OptionScope::batchLine;
    if (toFiles ? v.positional.size() != 1 : !v.positional.isEmpty())
        fail(toFiles ? tr("出力ファイルを一つ指定してください")
                     : tr("出力ファイルはここでは指定できません"));
    if (toFiles)
        o.output = v.positional.constFirst();

    RenderRequest& r = o.request;
    r.isStereoscopicMode = v.has("stereo") || v.has("stereo-layout");
    r.isAutostereogramMode = v.has("autostereogram");
    if (r.isStereoscopicMode && r.isAutostereogramMode)
        fail(tr("--stereo と --autostereogram は同時に使えません"));
    if (v.has("stereo-layout"))
        r.stereoLayout = layoutValue(v.text("stereo-layout", ""));
    r.stereoPair = pairValue(v, r);
    r.seed = seedValue(v.text("seed", "0"));
    sizeValue(v.text("size", "800x600"), r);
    r.backingScale = v.number("scale", "1", 0.1, 8);
    r.maxPatchSize = v.number("patch-size", "128", 1, kMaxImageSide);
    const double big = 1e6;
    r.phase = v.number("phase", "0", -big, big);
    r.breathingPhase = v.number("breathing-phase", "0", -big, big);
    r.stereoPhaseDisparity = v.number("disparity", "0.25", -big, big);
    r.sirdsStripColumns = v.whole("columns", "3", 2, 6);
    r.colorModeBlackLevel = v.number("black-level", "1", 0, 1);
    r.animationRenderScale = v.number("render-scale", "1", 0.4, 1);
    r.renderingMode = generatorValue(v.text("generator", "gpu"));
    r.isColorMode = v.has("color");

    AnimationSettings& a = r.animation;
    a.rotation = v.has("rotation");
    a.phaseDrift = v.has("phase-drift");
    a.breathing = v.has("breathing");
    a.spins = v.has("spins");
    a.illuminant = v.has("illuminant");
    if (v.has("speed")) {
        const AnimationSpeed speed = speedValue(v.text("speed", ""));
        a.phaseSpeed = AnimationSpeeds::phaseSpeed(speed);
        a.rotationSpeed = AnimationSpeeds::rotationSpeed(speed);
    }
    if (v.has("phase-speed"))
        a.phaseSpeed = v.number("phase-speed", "", -100, 100);
    if (v.has("rotation-speed"))
        a.rotationSpeed = v.number("rotation-speed", "", -3600, 3600);
    a.spinInterval = v.number("spin-interval", "2", 0.1, 3600);
    r.time = timeValue(v);

    o.loop = v.has("loop");
    const bool video = o.loop || v.has("duration");
    if (toFiles)
        o.kind = outputKind(o.output, v.has("frames"), video);
    else if (scope == OptionScope::frames && !video)
        fail(tr("--duration が必要です"));
    if (!video)
        return o;
    o.fps = v.exact("fps", "30", 1, 240);
    // The containers keep the rate as a fraction of 32-bit integers.
    if (o.fps.denominator() > std::numeric_limits<std::int32_t>::max())
        fail(tr("--fps の値 '%1' は細かすぎます").arg(v.text("fps", "30")));
    if (o.loop) {
        if (v.has("duration"))
            fail(tr("--loop と --duration は同時に使えません"));
        const auto loop = loopDuration(a, o.fps, Rational(kMaxLoopSeconds));
        if (!loop)
            fail(tr("%1 分以内にちょうど元に戻る長さがありません（回転、位相、呼吸、照明色の"
                    "どれかが動いていて、その周期と %2 fps が合う必要があります）")
                     .arg(kMaxLoopSeconds / 60)
                     .arg(o.fps.toDouble()));
        o.duration = *loop;
        r.loop = loop;
        return o;
    }
    const QString durationText = v.text("duration", "");
    const auto notPositive = [&] {
        fail(tr("--duration には 0 より大きく %1 以下の秒数を指定してください（'%2' は使えません）")
                 .arg(kMaxVideoSeconds)
                 .arg(durationText));
    };
    // A negative length is named as such, not as out of the range from 0.
    bool isNumber = false;
    if (const double asked = durationText.toDouble(&isNumber); isNumber && asked <= 0)
        notPositive();
    o.duration = v.exact("duration", "", 0, kMaxVideoSeconds);
    if (o.duration.isZero())
        notPositive();
    const auto frames = Rational::multiply(o.duration, o.fps);
    if (!frames || frames->denominator() != 1)
        fail(tr("--duration × --fps が整数のフレーム数になりません（%1 × %2）")
                 .arg(durationText, v.text("fps", "30")));
    return o;
}

} // namespace

std::int64_t RenderOptions::frameCount() const {
    const auto frames = Rational::multiply(duration, fps);
    return frames ? static_cast<std::int64_t>(frames->numerator() / frames->denominator()) : 0;
}

std::optional<Rational> RenderOptions::frameTime(std::int64_t k) const {
    const auto offset = Rational::divide(Rational(k), fps);
    return offset ? Rational::add(request.time, *offset) : std::nullopt;
}

ParsedRenderOptions parseRenderOptions(const QStringList& arguments, OptionScope scope) {
    ParsedRenderOptions parsed;
    try {
        parsed.options = parse(arguments, scope);
    } catch (const Failure& failure) {
        parsed.error = failure.message;
    }
    return parsed;
}

QString renderOptionsHelp() {
    return tr(R"(使い方: lumenweave-render [オプション] 出力ファイル

ガボールパッチの場を一枚の PNG 画像（.png）、動画（.mkv、.mp4、.webm）または
番号付きの PNG の連番に書き出します。同じシードと設定からは、いつも同じバイトの
画像ができます。出力ファイルが - なら PNG を標準出力に書きます。ディスプレイが
なければ、GPU の生成器の絵を CPU で描きます（同じバイトです）。

模様:
  --seed N               模様のシード（10進数か 0x で始まる16進数、既定 0）
  --size 幅x高さ         表示の大きさ（ポイント、既定 800x600）
  --scale S              1 ポイントあたりのピクセル数（既定 1）
  --patch-size P         パッチの最大の大きさ（ピクセル、既定 128）
  --render-scale R       描画の倍率、0.4 から 1（既定 1）
  --generator 名前       gpu、filter（画像フィルター）、cpu（既定 gpu）
  --color                パラメーターの組ごとに色を付ける
  --black-level B        色付けの黒レベル、0 から 1（既定 1）
  --stereo               立体視のペア（既定は左右に並べる並列）
  --stereo-layout 配置   ペアの配置（--stereo を含む）: parallel（並列）、cross（交差）、
                         anaglyph（赤/シアンのアナグリフ）、interleaved（偶数行が左目、
                         奇数行が右目の行インターリーブ）
  --pair-width 幅        並列・交差の片側の幅: full（全体、既定）かセンチメートル
                         （1 インチ = 96 ポイントとして）
  --gap 間隔             並列・交差の左右の間（センチメートル、既定 0、平均の灰色）
  --fusion-marks         並列・交差の左右の上に融合マークの点を付ける
  --disparity D          立体視の位相差（π 単位、既定 0.25）
  --autostereogram       ランダムドット・ステレオグラム
  --columns N            ステレオグラムの帯の列数、2 から 6（既定 3）
  --phase RAD            時刻 0 の位相（ラジアン、既定 0）
  --breathing-phase RAD  時刻 0 の呼吸の位相（ラジアン、既定 0）

動き（時刻 0 から --time 秒たったところを描きます）:
  --time 秒              描く時刻、0 から 86400。7/30 のような分数も可（既定 0）
  --rotation             回転
  --phase-drift          位相の移動
  --breathing            呼吸
  --spins                ランダムスピン（シードから決まります）
  --illuminant           照明色の移り変わり
  --speed 速さ           位相と回転の速さ: 遅い、普通、速い（slow、normal、fast）
  --phase-speed N        位相の速さ（周/秒、既定 1。--speed より優先）
  --rotation-speed N     回転の速さ（度/秒、既定 30。--speed より優先）
  --spin-interval 秒     スピンの間隔（既定 2）

動画（フレーム k は --time + k / fps 秒の絵）:
  --duration 秒          長さ、3600 秒まで（長さ × fps は整数）
  --fps F                1 秒あたりのフレーム数、1 から 240（既定 30）
  --loop                 動きがちょうど元に戻る最短の長さ（10 分まで）を選ぶ。
                         最後のフレームの次が最初のフレームになり、つなぎ目が
                         見えません。ランダムスピンは長さの中で終わるものだけ
  --frames               出力ファイル名に番号を付けた PNG の連番にする
                         （out.png なら out-0000.png、out-0001.png …）
                         .mkv は FFV1 の可逆 RGB、.mp4 は H.264、.webm は VP9

まとめて:
  --batch ファイル       一行に一つの JSON オブジェクトを書いたファイル（- なら標準
                         入力）の絵をすべての CPU で描く。"output" に出力ファイル、
                         ほかのキーは上のオプション名（-- なし）で、値は数か文字列、
                         フラグは true。例:
                         {"output": "a.png", "seed": 3, "size": "256x256", "color": true}
                         書けなかった行は行番号と理由を標準エラーに一行ずつ表示し、
                         ほかの行はすべて書きます。Ctrl+C で止めると書きかけの
                         ファイルを残さず、書き出した数を表示します（もう一度押すと
                         すぐに終わります）

  --verbose              GPU と CPU のどちらで描くかを標準エラーに表示する
  -h, --help             この説明を表示する

終了コード: 0 成功、1 失敗（理由を標準エラーに一行で表示。--batch では書けなかった
行が一つでもあるとき）、2 ディスプレイがない（--generator filter）
)");
}
