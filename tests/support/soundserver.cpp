#include "soundserver.h"

#include <QFileInfo>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QTest>

#include <gst/gst.h>

SoundServer::SoundServer() = default;

SoundServer::~SoundServer()
{
    stop();
}

bool SoundServer::start()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
    if (program.isEmpty() || !m_dir.isValid()) {
        m_error = QStringLiteral("no pulseaudio here (scripts/deps.sh test installs it)");
        return false;
    }
    const QString socket = m_dir.filePath(QStringLiteral("native"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
    env.insert(QStringLiteral("HOME"), m_dir.path());
    m_server.setProcessEnvironment(env);
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server.start(program, {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=10"),
                             QStringLiteral("--use-pid-file=no"), QStringLiteral("--log-level=error"),
                             QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=brimwold"),
                             QStringLiteral("-L"), QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + socket,
                             QStringLiteral("-L"), QStringLiteral("module-role-cork")});
    if (!m_server.waitForStarted(10000) || !QTest::qWaitFor([&] { return QFileInfo::exists(socket); }, 10000)) {
        m_error = QStringLiteral("pulseaudio did not start: ") + m_server.errorString();
        stop();
        return false;
    }
    qputenv("PULSE_SERVER", QByteArray("unix:") + socket.toUtf8());
    return true;
}

void SoundServer::stop()
{
    hangUp();
    if (m_monitor) {
        gst_element_set_state(m_monitor, GST_STATE_NULL);
        gst_object_unref(m_monitor);
        m_monitor = nullptr;
    }
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!m_server.waitForFinished(5000))
            m_server.kill();
        m_server.waitForFinished();
    }
    // Nothing to play to from now on.
    qputenv("PULSE_SERVER", QByteArray("unix:") + m_dir.filePath(QStringLiteral("gone")).toUtf8());
}

bool SoundServer::listen()
{
    {
        QMutexLocker lock(&m_mutex);
        m_heard.clear();
    }
    if (m_monitor)
        return true;
    gst_init(nullptr, nullptr);
    m_monitor = gst_parse_launch("pulsesrc device=brimwold.monitor ! audioconvert ! audioresample ! "
                                 "audio/x-raw,format=F32LE,channels=1,rate=16000 ! appsink name=out sync=false",
                                 nullptr);
    if (!m_monitor)
        return false;
    GstElement *out = gst_bin_get_by_name(GST_BIN(m_monitor), "out");
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &SoundServer::newSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(out), &callbacks, this, nullptr);
    gst_object_unref(out);
    return gst_element_set_state(m_monitor, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
}

GstFlowReturn SoundServer::newSample(GstAppSink *sink, gpointer data)
{
    auto *self = static_cast<SoundServer *>(data);
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_EOS;
    GstMapInfo map;
    if (gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ)) {
        const auto *floats = reinterpret_cast<const float *>(map.data);
        QMutexLocker lock(&self->m_mutex);
        self->m_heard.insert(self->m_heard.end(), floats, floats + map.size / sizeof(float));
        gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

std::vector<float> SoundServer::heard() const
{
    QMutexLocker lock(&m_mutex);
    return m_heard;
}

bool SoundServer::ring()
{
    const QString pacat = QStandardPaths::findExecutable(QStringLiteral("pacat"));
    if (pacat.isEmpty())
        return false;
    m_call.start(pacat, {QStringLiteral("--playback"), QStringLiteral("--property=media.role=phone"),
                         QStringLiteral("--raw"), QStringLiteral("/dev/zero")});
    return m_call.waitForStarted(5000);
}

void SoundServer::hangUp()
{
    if (m_call.state() == QProcess::NotRunning)
        return;
    m_call.kill();
    m_call.waitForFinished();
}
