#include "log/library_log.h"

#include <QDir>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>

#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

namespace tessivar::log {
namespace {

constexpr const char* kLoggerName = "quorvexLogger";
constexpr const char* kFileName = "/vorixOptical.log";
constexpr const char* kPattern = "[%Y-%m-%d %H:%M:%S.%e][%l] %v";
constexpr std::size_t kMaxFileSize = 10u * 1024u * 1024u;
constexpr std::size_t kMaxFiles = 10;

// The current logger. Readers take a copy with std::atomic_load so that a concurrent
// replacement (a second Open) or Shutdown never frees a logger that is being written to.
std::shared_ptr<spdlog::logger> g_logger;
std::atomic<bool> g_logOpen{false};
// Serialises Open and Shutdown against each other; line writers never take it.
std::mutex g_lifecycleMutex;

std::shared_ptr<spdlog::logger> Current()
{
    if (!g_logOpen.load(std::memory_order_acquire))
        return nullptr;
    return std::atomic_load(&g_logger);
}

void Write(spdlog::level::level_enum level, const QString& text, int deviceId)
{
    auto logger = Current();
    if (!logger)
        return;
    QString message = deviceId > 0 ? QStringLiteral("<%1> %2").arg(deviceId).arg(text) : text;
    const QByteArray utf8 = message.toUtf8();
    logger->log(level,
                spdlog::string_view_t(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

}  // namespace

void Open(const char* dir)
{
    std::lock_guard<std::mutex> lock(g_lifecycleMutex);
    const QString path =
        QDir(dir ? QString::fromUtf8(dir) : QString()).path() + QLatin1String(kFileName);

    // A logger of this name may already exist (second Open): drop it first so the new
    // file and directory take effect; writers still holding the old one finish on it.
    g_logOpen.store(false, std::memory_order_release);
    if (auto old = std::atomic_load(&g_logger)) {
        old->flush();
        spdlog::drop(kLoggerName);
    }
    std::shared_ptr<spdlog::logger> logger;
    try {
        auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
            path.toStdString(), kMaxFileSize, kMaxFiles, /*rotate_on_open=*/true);
        logger = std::make_shared<spdlog::logger>(kLoggerName, std::move(sink));
        logger->set_formatter(std::make_unique<spdlog::pattern_formatter>(
            kPattern, spdlog::pattern_time_type::local, "\r\n"));
        logger->set_level(spdlog::level::info);
        spdlog::register_logger(logger);
    } catch (const spdlog::spdlog_ex&) {
        // The directory cannot be written: the library keeps working without a log.
        std::atomic_store(&g_logger, std::shared_ptr<spdlog::logger>());
        return;
    }
    std::atomic_store(&g_logger, logger);
    g_logOpen.store(true, std::memory_order_release);
    Info(QStringLiteral("start optical power meter log system"));
}

void Info(const QString& text, int deviceId) { Write(spdlog::level::info, text, deviceId); }
void Warn(const QString& text, int deviceId) { Write(spdlog::level::warn, text, deviceId); }
void Error(const QString& text, int deviceId) { Write(spdlog::level::err, text, deviceId); }

void Flush()
{
    if (auto logger = Current())
        logger->flush();
}

void Shutdown()
{
    std::lock_guard<std::mutex> lock(g_lifecycleMutex);
    if (!g_logOpen.exchange(false, std::memory_order_acq_rel))
        return;
    if (auto logger = std::atomic_load(&g_logger))
        logger->flush();
    std::atomic_store(&g_logger, std::shared_ptr<spdlog::logger>());
    // Only our logger: spdlog's registry is shared with the host program, whose own loggers
    // must survive the library's shut-down. The file closes with the last reference.
    spdlog::drop(kLoggerName);
}

bool IsOpen() { return g_logOpen.load(std::memory_order_acquire); }

QString HexDump(const unsigned char* data, int size)
{
    static const char kDigits[] = "0123456789ABCDEF";
    if (!data || size <= 0)
        return QString();
    QByteArray out;
    out.reserve(size * 3);
    for (int i = 0; i < size; ++i) {
        if (i)
            out.append(' ');
        out.append(kDigits[data[i] >> 4]);
        out.append(kDigits[data[i] & 0x0F]);
    }
    return QString::fromLatin1(out);
}

}  // namespace tessivar::log
