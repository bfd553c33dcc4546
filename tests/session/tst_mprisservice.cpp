#include "mprisservice.h"
#include "playersession.h"

#include "privatebus.h"
#include "testclips.h"
#include "testserver.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QTimer>
#include <QtTest>

#include <algorithm>

#include <memory>

// The player session on a private session bus, as the desktop's media
// applet and playerctl see it: through a connection of their own.
class TestMprisService : public QObject
{
    Q_OBJECT

signals: // what the bus says, relayed for QSignalSpy
    void propertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &invalidated);
    void seeked(qlonglong position);

private slots:
    void initTestCase();
    void cleanupTestCase();
    void desktopMediaControls_data();
    void desktopMediaControls();

private:
    QString address(const char *path) const { return m_server.baseUrl() + QLatin1String(path); }

    PrivateBus m_bus;
    TestServer m_server{TestServer::Scheme::Http};
};

void TestMprisService::initTestCase()
{
    QVERIFY(m_server.startInThread());
    TestClips::serve(m_server);
    QDBusConnection bus = QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("client"));
    const QString service = QStringLiteral("org.mpris.MediaPlayer2.sorvalen_brimwold");
    const QString path = QStringLiteral("/org/mpris/MediaPlayer2");
    QVERIFY(bus.connect(service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"),
                        this, SIGNAL(propertiesChanged(QString, QVariantMap, QStringList))));
    QVERIFY(bus.connect(service, path, QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("Seeked"), this,
                        SIGNAL(seeked(qlonglong))));
}

void TestMprisService::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("client"));
}

void TestMprisService::desktopMediaControls_data()
{
    // Each row starts from the long clip, listed as "第三回 远行" of the
    // article "新书", playing from 0:20 (unless the action starts with "no
    // clip"); a client or the listener then acts, in steps.
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("expected");
    const QString bus = QStringLiteral("org.mpris.MediaPlayer2.sorvalen_brimwold");
    QTest::newRow("identity") << "no clip" << "root Identity" << "Sorvalen Brimwold";
    QTest::newRow("desktop entry") << "no clip" << "root DesktopEntry" << "org.sorvalen.Brimwold";
    QTest::newRow("cannot quit") << "no clip" << "root CanQuit" << "false";
    QTest::newRow("can raise") << "no clip" << "root CanRaise" << "true";
    QTest::newRow("no track list") << "no clip" << "root HasTrackList" << "false";
    QTest::newRow("opens web addresses") << "no clip" << "root SupportedUriSchemes" << "http https";
    QTest::newRow("no file types") << "no clip" << "root SupportedMimeTypes" << "";
    QTest::newRow("Raise asks for the window") << "no clip, call root Raise" << "raised" << "";
    QTest::newRow("Quit leaves it playing") << "call root Quit" << "status" << "Playing";
    QTest::newRow("stopped before any clip") << "no clip" << "status" << "Stopped";
    QTest::newRow("nothing to play before any clip") << "no clip" << "property CanPlay" << "false";
    QTest::newRow("nothing to seek before any clip") << "no clip" << "property CanSeek" << "false";
    QTest::newRow("no track before any clip") << "no clip" << "metadata mpris:trackid"
                                              << "/org/mpris/MediaPlayer2/TrackList/NoTrack";
    QTest::newRow("no length before any clip") << "no clip" << "metadata mpris:length" << "0";
    QTest::newRow("the first clip is announced")
        << "no clip, clip" << "changed"
        << "CanGoNext=true; CanGoPrevious=true; CanPause=true; CanPlay=true; CanSeek=true; Metadata=/org/sorvalen/Brimwold/clip/1; "
           "PlaybackStatus=Playing";
    QTest::newRow("playing") << "" << "status" << "Playing";
    QTest::newRow("address") << "" << "metadata xesam:url" << "/voice/long";
    QTest::newRow("length") << "" << "metadata mpris:length" << "92";
    QTest::newRow("track id") << "" << "metadata mpris:trackid" << "/org/sorvalen/Brimwold/clip/1";
    QTest::newRow("title is the listed name") << "" << "metadata xesam:title" << "第三回 远行";
    QTest::newRow("album is the article") << "" << "metadata xesam:album" << "新书";
    QTest::newRow("a clip not listed is titled by its address") << "unlisted clip" << "metadata xesam:title"
                                                                << "/voice/b";
    QTest::newRow("a clip not listed has no album") << "unlisted clip" << "metadata xesam:album" << "";
    QTest::newRow("a new clip gets a new track id") << "next clip" << "metadata mpris:trackid"
                                                    << "/org/sorvalen/Brimwold/clip/2";
    QTest::newRow("a new clip is announced without a stop")
        << "next clip" << "changed with" << "Metadata=/org/sorvalen/Brimwold/clip/2; -PlaybackStatus";
    QTest::newRow("can play, pause, seek and be controlled") << "" << "properties CanPlay CanPause CanSeek CanControl"
                                                             << "true true true true";
    // The long clip is the middle one of three listed.
    QTest::newRow("nothing to go to before any clip") << "no clip" << "properties CanGoNext CanGoPrevious" << "false false";
    QTest::newRow("a next and a previous clip") << "" << "properties CanGoNext CanGoPrevious" << "true true";
    QTest::newRow("Next plays the next row") << "call Next" << "metadata xesam:title" << "第四回 归来";
    // Whether CanSeek is seen to go false and back depends on how soon the
    // next clip loads.
    QTest::newRow("Next is announced, and on the last row there is none")
        << "call Next" << "changed with" << "CanGoNext=false; Metadata=/org/sorvalen/Brimwold/clip/2";
    QTest::newRow("Next on the last row does nothing") << "call Next, call Next" << "metadata mpris:trackid"
                                                       << "/org/sorvalen/Brimwold/clip/2";
    QTest::newRow("Previous after 3 s goes to the start of the clip") << "call Previous" << "position under" << "3";
    QTest::newRow("Previous in the first 3 s plays the row before, where it was left, 5 s earlier")
        << "call Next, call Previous" << "position" << "15";
    QTest::newRow("Previous in the first 3 s plays the row before") << "call Next, call Previous" << "metadata xesam:title"
                                                                    << "第三回 远行";
    QTest::newRow("an unlisted clip has nothing to go to") << "unlisted clip" << "properties CanGoNext CanGoPrevious"
                                                            << "false true";
    QTest::newRow("PlayPause") << "call PlayPause" << "changed" << "PlaybackStatus=Paused";
    QTest::newRow("Pause") << "call Pause" << "changed" << "PlaybackStatus=Paused";
    QTest::newRow("Play after Pause") << "call Pause, call Play" << "status" << "Playing";
    QTest::newRow("PlayPause after Pause") << "call Pause, call PlayPause" << "status" << "Playing";
    QTest::newRow("Stop") << "call Stop" << "changed" << "PlaybackStatus=Stopped";
    QTest::newRow("SetPosition") << "call SetPosition current 30" << "position" << "30";
    QTest::newRow("SetPosition is announced") << "call SetPosition current 30" << "seeked exactly" << "30000000";
    QTest::newRow("Position in microseconds") << "call Pause, call SetPosition current 30" << "position exactly"
                                              << "30000000";
    QTest::newRow("SetPosition for an earlier clip is ignored") << "next clip, call SetPosition stale 60"
                                                                << "position under" << "25";
    QTest::newRow("SetPosition past the end is ignored") << "call SetPosition current 1000" << "position" << "20";
    QTest::newRow("SetPosition before the start is ignored") << "call SetPosition current -5" << "position" << "20";
    QTest::newRow("Seek") << "call Seek 5" << "position" << "25";
    QTest::newRow("Seek back") << "call Seek -5" << "position" << "15";
    QTest::newRow("Seek is announced") << "call Seek 5" << "seeked" << "25000000";
    QTest::newRow("a clip cut short cannot seek once played") << "clip cut short, call Seek -2" << "not seeked"
                                                               << "CanSeek=false";
    QTest::newRow("with 跳过静音 on, Position and Length are the clip's") << "no clip, skip silence, clip with pauses"
                                                                      << "clip time" << "4.6";
    QTest::newRow("Volume") << "no clip, set Volume 0.4" << "session volume" << "40";
    QTest::newRow("Volume over 1 is full") << "no clip, set Volume 1.5" << "session volume" << "100";
    QTest::newRow("Volume under 0 is none") << "no clip, set Volume -1" << "session volume" << "0";
    QTest::newRow("Volume reads the player's") << "no clip, session volume 40" << "property Volume" << "0.4";
    QTest::newRow("volume is announced") << "no clip, session volume 40" << "changed" << "Volume=0.4";
    QTest::newRow("volume is announced while a clip plays") << "session volume 40" << "changed" << "Volume=0.4";
    QTest::newRow("Volume while muted") << "no clip, mute" << "property Volume" << "0";
    QTest::newRow("mute is announced") << "no clip, mute" << "changed" << "Volume=0";
    QTest::newRow("setting Volume unmutes") << "no clip, mute, set Volume 0.5" << "session muted" << "false";
    QTest::newRow("Volume 0 keeps it muted") << "no clip, mute, set Volume 0" << "session muted" << "true";
    QTest::newRow("the least Volume unmutes") << "no clip, mute, set Volume 0.01" << "property Volume" << "0.01";
    QTest::newRow("Rate") << "no clip, set Rate 2" << "session speed" << "2";
    QTest::newRow("Rate goes to the nearest speed") << "no clip, set Rate 1.6" << "session speed" << "1.5";
    QTest::newRow("Rate 0 is ignored") << "no clip, set Rate 0" << "session speed" << "1";
    QTest::newRow("Rate reads the speed") << "no clip, session speed 1.5" << "property Rate" << "1.5";
    QTest::newRow("speed is announced") << "no clip, session speed 2" << "changed" << "Rate=2";
    QTest::newRow("slowest rate") << "no clip" << "property MinimumRate" << "0.5";
    QTest::newRow("fastest rate") << "no clip" << "property MaximumRate" << "3";
    QTest::newRow("OpenUri hands the article to the window") << "no clip, call OpenUri https://mp.weixin.qq.com/s/abc"
                                                             << "open" << "https://mp.weixin.qq.com/s/abc";
    QTest::newRow("the name when another program has it")
        << "name taken" << "service" << bus + QStringLiteral(".instance") + QString::number(QCoreApplication::applicationPid());
    QTest::newRow("the name is given back") << "" << "name given back" << "yes";
    QTest::newRow("a second session of the program stays off the bus") << "second session" << "service" << bus;
}

void TestMprisService::desktopMediaControls()
{
    QFETCH(QString, action);
    QFETCH(QString, what);
    QFETCH(QString, expected);
    QDBusConnection bus(QStringLiteral("client"));
    if (!bus.isConnected())
        QSKIP("no session bus could be started (dbus-daemon)");
    const QString plainName = QStringLiteral("org.mpris.MediaPlayer2.sorvalen_brimwold");
    const QString busAddress = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    // Another program, when one is needed.
    const auto other = [&] { return QDBusConnection::connectToBus(busAddress, QStringLiteral("other")); };
    const auto cleanup = qScopeGuard([] { QDBusConnection::disconnectFromBus(QStringLiteral("other")); });
    if (action == QLatin1String("name taken"))
        QVERIFY(other().registerService(plainName));

    auto session = std::make_unique<PlayerSession>();
    session->playback()->setRetries({{20, 40, 80, 160}, 5});
    auto *mpris = new MprisService(session.get());
    QSignalSpy opened(session.get(), &PlayerSession::openRequested);
    QSignalSpy raised(mpris, &MprisService::raiseRequested);
    const QString service = mpris->serviceName();
    const QString path = QStringLiteral("/org/mpris/MediaPlayer2");
    const QString rootInterface = QStringLiteral("org.mpris.MediaPlayer2");
    const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
    // The player runs on this thread: calls to it must not block it.
    const auto call = [&](const QString &interface, const QString &method, const QVariantList &arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = bus.asyncCall(message);
        return QTest::qWaitFor([&] { return pending.isFinished(); }, 10000) ? pending.reply() : QDBusMessage();
    };
    const auto get = [&](const QString &interface, const QString &name) {
        const QDBusMessage reply = call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                        {interface, name});
        return reply.arguments().isEmpty() ? QVariant() : qdbus_cast<QDBusVariant>(reply.arguments().first()).variant();
    };
    const auto property = [&](const QString &name) { return get(playerInterface, name); };
    const auto metadata = [&] { return qdbus_cast<QVariantMap>(property(QStringLiteral("Metadata"))); };
    QCOMPARE(get(rootInterface, QStringLiteral("Identity")).toString(), QStringLiteral("Sorvalen Brimwold"));
    const auto clip = [&](const char *clipPath) {
        session->setClipList({{address("/voice/half"), QStringLiteral("第二回 旧友")},
                              {address("/voice/long"), QStringLiteral("第三回 远行")},
                              {address("/voice/long2"), QStringLiteral("第四回 归来")}},
                             QStringLiteral("新书"));
        session->open(address(clipPath));
    };

    const QStringList steps = action.split(QStringLiteral(", "), Qt::SkipEmptyParts);
    if (!action.startsWith(QLatin1String("no clip"))) {
        clip("/voice/long");
        QTRY_VERIFY_WITH_TIMEOUT(property(QStringLiteral("CanSeek")).toBool(), 10000);
        session->seekTo(20000);
        QTRY_VERIFY_WITH_TIMEOUT(session->position() > 20300, 10000);
    }
    // What the start announced is not the row's: once the service has sent
    // it all, a call's answer comes after it, as the bus keeps order.
    const auto announcing = [&] {
        const QList<QTimer *> timers = mpris->findChildren<QTimer *>();
        return std::any_of(timers.cbegin(), timers.cend(), [](const QTimer *timer) { return timer->isActive(); });
    };
    QTRY_VERIFY(!announcing());
    property(QStringLiteral("PlaybackStatus"));
    QSignalSpy changes(this, SIGNAL(propertiesChanged(QString, QVariantMap, QStringList)));
    QSignalSpy seeked(this, SIGNAL(seeked(qlonglong)));
    const QString earlierTrack = qdbus_cast<QDBusObjectPath>(metadata().value(QStringLiteral("mpris:trackid"))).path();

    std::unique_ptr<PlayerSession> second;
    for (const QString &step : steps) {
        const QStringList words = step.split(QLatin1Char(' '));
        if (step == QLatin1String("clip")) {
            clip("/voice/long");
        } else if (step == QLatin1String("next clip")) {
            clip("/voice/long");
            QTRY_VERIFY_WITH_TIMEOUT(property(QStringLiteral("CanSeek")).toBool(), 10000);
        } else if (step == QLatin1String("clip cut short")) {
            session->open(address("/voice/cut"));
            QTRY_VERIFY_WITH_TIMEOUT(session->canSeek(), 10000);
            session->seekTo(3000);
            QTRY_VERIFY_WITH_TIMEOUT(session->statusText().startsWith(QStringLiteral("音频未下载完整")), 10000);
            seeked.clear();
        } else if (step == QLatin1String("skip silence")) {
            session->setSkipSilence(true);
        } else if (step == QLatin1String("clip with pauses")) {
            session->open(address("/voice/pauses"));
        } else if (step == QLatin1String("unlisted clip")) {
            session->open(address("/voice/b"));
        } else if (step == QLatin1String("second session")) {
            second = std::make_unique<PlayerSession>();
            QVERIFY((new MprisService(second.get()))->serviceName().isEmpty());
        } else if (step == QLatin1String("mute")) {
            session->playback()->setMuted(true);
        } else if (step.startsWith(QLatin1String("session volume "))) {
            session->playback()->setVolume(words.value(2).toInt());
        } else if (step.startsWith(QLatin1String("session speed "))) {
            session->setSpeed(words.value(2).toDouble());
        } else if (words.first() == QLatin1String("call")) {
            const QString &target = words.value(1) == QLatin1String("root") ? rootInterface : playerInterface;
            const QString method = words.value(1) == QLatin1String("root") ? words.value(2) : words.value(1);
            QVariantList arguments;
            if (method == QLatin1String("SetPosition"))
                arguments << QVariant::fromValue(QDBusObjectPath(words.value(2) == QLatin1String("current")
                                                                     ? qdbus_cast<QDBusObjectPath>(metadata().value(QStringLiteral("mpris:trackid"))).path()
                                                                     : earlierTrack))
                          << qlonglong(words.value(3).toLongLong() * 1000000);
            else if (method == QLatin1String("Seek"))
                arguments << qlonglong(words.value(2).toLongLong() * 1000000);
            else if (method == QLatin1String("OpenUri"))
                arguments << words.value(2);
            const QDBusMessage reply = call(target, method, arguments);
            QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
        } else if (words.first() == QLatin1String("set")) {
            const QDBusMessage reply = call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                                            {playerInterface, words.value(1), QVariant::fromValue(QDBusVariant(words.value(2).toDouble()))});
            QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
        } else if (step != QLatin1String("no clip") && step != QLatin1String("name taken")) {
            QFAIL(qPrintable(step));
        }
        QTest::qWait(100);
    }

    const auto text = [](const QVariant &value) {
        if (value.userType() == qMetaTypeId<QDBusArgument>()) { // a map on the wire
            const QVariantMap map = qdbus_cast<QVariantMap>(value);
            return qdbus_cast<QDBusObjectPath>(map.value(QStringLiteral("mpris:trackid"))).path();
        }
        if (value.userType() == QMetaType::QVariantMap)
            return qdbus_cast<QDBusObjectPath>(value.toMap().value(QStringLiteral("mpris:trackid"))).path();
        return value.canConvert<QStringList>() && value.userType() != QMetaType::QString ? value.toStringList().join(' ')
                                                                                           : value.toString();
    };
    const QString here = m_server.baseUrl();
    if (what == QLatin1String("status")) {
        QTRY_COMPARE(property(QStringLiteral("PlaybackStatus")).toString(), expected);
    } else if (what.startsWith(QLatin1String("root "))) {
        QCOMPARE(text(get(rootInterface, what.mid(5))), expected);
    } else if (what.startsWith(QLatin1String("property "))) {
        QTRY_COMPARE(text(property(what.mid(9))), expected);
    } else if (what.startsWith(QLatin1String("properties "))) {
        QStringList values;
        for (const QString &name : what.mid(11).split(QLatin1Char(' ')))
            values.append(text(property(name)));
        QCOMPARE(values.join(QLatin1Char(' ')), expected);
    } else if (what.startsWith(QLatin1String("metadata "))) {
        const QString key = what.mid(9);
        const auto shown = [&] {
            const QVariant value = metadata().value(key);
            if (key == QLatin1String("mpris:trackid"))
                return qdbus_cast<QDBusObjectPath>(value).path();
            if (key == QLatin1String("mpris:length"))
                return QString::number(qRound(value.toLongLong() / 1e6));
            return value.toString().replace(here, QString());
        };
        QTRY_COMPARE(shown(), expected);
        // In microseconds, to the millisecond the session knows.
        if (key == QLatin1String("mpris:length"))
            QCOMPARE(metadata().value(key).toLongLong(), session->duration() * 1000);
    } else if (what == QLatin1String("position")) {
        const auto position = [&] { return property(QStringLiteral("Position")).toLongLong(); };
        QTRY_VERIFY2(qAbs(position() - expected.toLongLong() * 1000000) < 1500000, qPrintable(QString::number(position())));
    } else if (what == QLatin1String("position exactly")) {
        const auto position = [&] { return property(QStringLiteral("Position")).toLongLong(); };
        QTRY_VERIFY2(qAbs(position() - expected.toLongLong()) < 5000, qPrintable(QString::number(position())));
    } else if (what == QLatin1String("clip time")) {
        // Past two shortened pauses: as far into the clip as the session
        // says, which is 1.4 s further than what was played, between what it
        // said before the call and after its answer; the clip's whole length.
        QTRY_VERIFY_WITH_TIMEOUT(session->position() > 3000, 10000);
        const qint64 before = session->position() * 1000;
        const qint64 position = property(QStringLiteral("Position")).toLongLong();
        const qint64 after = session->position() * 1000;
        QVERIFY2(position >= before - 1000 && position <= after + 1000,
                 qPrintable(QStringLiteral("%1 us, the session at %2 to %3 us").arg(position).arg(before).arg(after)));
        QVERIFY2(qAbs(metadata().value(QStringLiteral("mpris:length")).toLongLong() - qRound64(expected.toDouble() * 1e6)) < 100000,
                 qPrintable(metadata().value(QStringLiteral("mpris:length")).toString()));
    } else if (what == QLatin1String("position under")) {
        QTest::qWait(300);
        const qint64 position = property(QStringLiteral("Position")).toLongLong();
        QVERIFY2(position < expected.toLongLong() * 1000000, qPrintable(QString::number(position)));
    } else if (what.startsWith(QLatin1String("seeked"))) {
        QTRY_COMPARE(seeked.count(), 1);
        QVERIFY2(qAbs(seeked.first().first().toLongLong() - expected.toLongLong()) < (what.endsWith("exactly") ? 5000 : 1500000),
                 qPrintable(QString::number(seeked.first().first().toLongLong())));
    } else if (what == QLatin1String("not seeked")) {
        QTest::qWait(300);
        QVERIFY(seeked.isEmpty());
        QCOMPARE(QStringLiteral("CanSeek=") + text(property(QStringLiteral("CanSeek"))), expected);
    } else if (what == QLatin1String("changed") || what == QLatin1String("changed with")) {
        // All that was announced, each property as it was last announced:
        // nothing missing, nothing more, once what is expected has come.
        const auto announced = [&] {
            QMap<QString, QString> merged;
            for (const QList<QVariant> &signal : qAsConst(changes)) {
                if (signal.at(0).toString() != QLatin1String("org.mpris.MediaPlayer2.Player"))
                    return QStringLiteral("on ") + signal.at(0).toString();
                const QVariantMap changed = qdbus_cast<QVariantMap>(signal.at(1));
                if (changed.isEmpty())
                    return QStringLiteral("an empty announcement");
                for (auto it = changed.cbegin(); it != changed.cend(); ++it)
                    merged.insert(it.key(), text(it.value()));
            }
            QStringList pairs;
            for (auto it = merged.cbegin(); it != merged.cend(); ++it)
                pairs.append(it.key() + QLatin1Char('=') + it.value());
            return pairs.join(QStringLiteral("; "));
        };
        if (what == QLatin1String("changed with")) {
            const auto has = [&] {
                const QStringList pairs = announced().split(QStringLiteral("; "));
                const QStringList wanted = expected.split(QStringLiteral("; "));
                // "-Name": not announced at all.
                return std::all_of(wanted.cbegin(), wanted.cend(), [&](const QString &pair) {
                    if (pair.startsWith(QLatin1Char('-')))
                        return std::none_of(pairs.cbegin(), pairs.cend(),
                                            [&](const QString &is) { return is.startsWith(pair.mid(1) + QLatin1Char('=')); });
                    return pairs.contains(pair);
                });
            };
            QTRY_VERIFY2_WITH_TIMEOUT(has(), qPrintable(announced()), 10000);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(announced(), expected, 10000);
        }
        // Once all is announced the service sleeps: no timer spins the CPU.
        for (const QTimer *timer : mpris->findChildren<QTimer *>())
            QVERIFY(!timer->isActive());
    } else if (what == QLatin1String("session volume")) {
        QTRY_COMPARE(QString::number(session->playback()->volume()), expected);
    } else if (what == QLatin1String("session muted")) {
        QTRY_COMPARE(session->playback()->isMuted() ? QStringLiteral("true") : QStringLiteral("false"), expected);
    } else if (what == QLatin1String("session speed")) {
        QTRY_COMPARE(QString::number(session->speed()), expected);
    } else if (what == QLatin1String("open")) {
        QTRY_COMPARE(opened.count(), 1);
        QCOMPARE(opened.first().first().toStringList(), QStringList{expected});
    } else if (what == QLatin1String("raised")) {
        QTRY_COMPARE(raised.count(), 1);
    } else if (what == QLatin1String("service")) {
        QCOMPARE(service, expected);
        QCOMPARE(property(QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Playing"));
    } else if (what == QLatin1String("name given back")) {
        session.reset();
        QVERIFY(other().registerService(plainName));
    } else {
        QFAIL(qPrintable(what));
    }
}

QTEST_MAIN(TestMprisService)
#include "tst_mprisservice.moc"
