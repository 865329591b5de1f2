// Before any Qt header: Qt's emit macro breaks TBB's headers.
#include <tbb/global_control.h>
#include <tbb/task_group.h>

#include "RenderBatch.h"

#include "TerminalProgress.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVariant>
#include <atomic>
#include <cmath>
#include <exception>
#include <new>
#include <vector>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("lumenweave-render", text);
}

struct Entry {
    int line = 0;
    RenderOptions options;
};

// What is wrong with a line.
struct Refusal {
    QString message;
};

[[noreturn]] void refuse(const QString& message) {
    throw Refusal{message};
}

// A JSON value as the command line would spell it.
QString optionText(const QString& key, const QJsonValue& value) {
    if (value.isString())
        return value.toString();
    if (value.isDouble()) {
        const QVariant number = value.toVariant();
        if (number.typeId() == QMetaType::LongLong)
            return QString::number(number.toLongLong());
        const double v = value.toDouble();
        // Past 2^53 a JSON reader keeps only the nearest double (a seed, say),
        // so the number written is not the number read.
        if (std::fabs(v) < 9007199254740992.0 || v != std::floor(v))
            return QString::number(v, 'g', QLocale::FloatingPointShortest);
        refuse(tr("\"%1\" の数は正確に読めません。文字列で書いてください").arg(key));
    }
    refuse(tr("\"%1\" の値は数か文字列か true / false にしてください").arg(key));
}

// One line's options; throws what is wrong with it.
RenderOptions entryOptions(const QByteArray& line) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError)
        refuse(tr("JSON として読めません（%1 文字目: %2）")
                   .arg(error.offset + 1)
                   .arg(error.errorString()));
    if (!document.isObject())
        refuse(tr("一行に JSON のオブジェクトを一つ書いてください"));
    QStringList arguments;
    QStringList output;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.key() == QLatin1String("output")) {
            if (!it->isString())
                refuse(tr("\"output\" には出力ファイルのパスを文字列で書いてください"));
            output << QStringLiteral("--") << it->toString();
        } else if (it->isBool()) {
            if (it->toBool())
                arguments << QStringLiteral("--") + it.key();
        } else {
            arguments << QStringLiteral("--%1=%2").arg(it.key(), optionText(it.key(), *it));
        }
    }
    const ParsedRenderOptions parsed =
        parseRenderOptions(arguments + output, OptionScope::batchLine);
    if (!parsed.error.isEmpty())
        refuse(parsed.error);
    // Standard output is one stream: entries written at once would mix there.
    if (parsed.options.output == QLatin1String("-"))
        refuse(tr("バッチでは標準出力に書けません"));
    return parsed.options;
}

QString renderSafely(const RenderEntry& render, const RenderOptions& options) {
    try {
        return render(options);
    } catch (const std::bad_alloc&) {
        return tr("メモリが足りません");
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    }
}

} // namespace

int runBatch(const QString& path, bool verbose, const RenderEntry& render,
             const std::function<bool()>& startGpu, const std::function<bool()>& stopped) {
    QFile file;
    const bool opened = path == QLatin1String("-")
                            ? file.open(stdin, QIODevice::ReadOnly)
                            : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!opened) {
        std::fprintf(
            stderr, "lumenweave-render: %s\n",
            qPrintable(tr("バッチファイル %1 を読めません: %2").arg(path, file.errorString())));
        return 1;
    }
    std::vector<Entry> onCpu, onGpu;
    QStringList refused; // in line order, said before any rendering
    int lineNumber = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        ++lineNumber;
        if (line.trimmed().isEmpty())
            continue;
        try {
            Entry entry{lineNumber, entryOptions(line)};
            using Mode = AppModel::RenderingMode;
            switch (entry.options.request.renderingMode) {
            case Mode::gpu:
                entry.options.request.withoutGpu = true;
                onCpu.push_back(std::move(entry));
                break;
            case Mode::cpu:
                onCpu.push_back(std::move(entry));
                break;
            case Mode::imageFilter:
                onGpu.push_back(std::move(entry));
                break;
            }
        } catch (const Refusal& refusal) {
            refused << tr("%1 行目: %2").arg(lineNumber).arg(refusal.message);
        }
    }
    if (file.error() != QFileDevice::NoError)
        refused << tr("バッチファイル %1 を最後まで読めません: %2").arg(path, file.errorString());

    // Joined before returning: Qt's record of each worker thread is released only
    // when the thread ends, and a pool outliving the batch leaves it behind.
    tbb::task_scheduler_handle workers{tbb::attach{}};
    const auto total = std::int64_t(onCpu.size() + onGpu.size());
    TerminalProgress progress(total, tr("画像 %1/%2  %3 枚/秒  残り %4:%5  "));
    std::atomic<bool> failed = !refused.empty();
    for (const QString& line : refused)
        progress.say(QStringLiteral("lumenweave-render: ") + line);
    if (verbose)
        progress.say(tr("lumenweave-render: %1 枚を CPU の %2 スレッドで描きます")
                         .arg(onCpu.size())
                         .arg(tbb::global_control::active_value(
                             tbb::global_control::max_allowed_parallelism)));

    std::atomic<std::int64_t> done = 0, written = 0;
    const auto finish = [&](const Entry& entry, const QString& error) {
        if (error.isEmpty()) {
            ++written;
        } else {
            failed = true;
            // Entries cut short by an interrupt are counted in one line at the end.
            if (!stopped())
                progress.say(QStringLiteral("lumenweave-render: ") +
                             tr("%1 行目: %2").arg(entry.line).arg(error));
        }
        progress.done(++done);
    };
    const auto make = [&](const Entry& entry) {
        if (!stopped())
            finish(entry, renderSafely(render, entry.options));
    };
    tbb::task_group group;
    for (const Entry& entry : onCpu)
        group.run([&] { make(entry); });
    // The GPU belongs to this thread; the pictures of the others go on meanwhile.
    const bool gpu = !onGpu.empty() && startGpu();
    for (const Entry& entry : onGpu) {
        if (gpu)
            make(entry);
        else
            finish(entry, tr("--generator filter にはディスプレイが必要です"));
    }
    group.wait();
    tbb::finalize(workers, std::nothrow);
    if (stopped()) {
        progress.say(
            QStringLiteral("lumenweave-render: ") +
            tr("中止しました（全 %1 件のうち %2 件を書き出しました）").arg(total).arg(written));
        return 1;
    }
    return failed ? 1 : 0;
}
