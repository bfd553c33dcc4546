#include "mediapane.h"
#include "playersession.h"
#include "positionslider.h"
#include "sleeptimer.h"

#include "sinkrecorder.h"
#include "testclips.h"
#include "testserver.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolButton>
#include <QtTest>

#include <algorithm>
#include <cmath>

// The player pane: what it shows of a session, and the listener's input
// through its controls, the keyboard and the media keys.
class TestMediaPane : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void controls_data();
    void controls();
    void fitsTheLowerPaneWithNamedControls();
    void shows_data();
    void shows();
    void positionRepaintsByThePixel();

private:
    QString address(const char *path) const { return m_server.baseUrl() + QLatin1String(path); }

    TestServer m_server{TestServer::Scheme::Http};
};

void TestMediaPane::initTestCase()
{
    QVERIFY(m_server.startInThread());
    TestClips::serve(m_server);
}

void TestMediaPane::controls_data()
{
    // Each gesture starts from the long clip paused at 0:20, and is a list
    // of steps.
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("expected");
    QTest::newRow("play button") << "play button" << "state" << "Playing";
    QTest::newRow("stop button") << "stop button" << "state" << "Stopped";
    QTest::newRow("Space on a pane control") << "Space" << "state" << "Playing";
    QTest::newRow("play/pause media key") << "media play/pause" << "state" << "Playing";
    QTest::newRow("stop media key") << "media stop" << "state" << "Stopped";
    QTest::newRow("mute") << "mute" << "muted" << "true";
    QTest::newRow("mute toggles back") << "mute, mute" << "muted" << "false";
    QTest::newRow("mute stays for the next clip") << "mute, next clip" << "muted" << "true";
    QTest::newRow("volume slider") << "volume 40" << "volume" << "40 音量：40%";
    QTest::newRow("volume at start") << "" << "volume" << "100 音量：100%";
    QTest::newRow("volume stays for the next clip") << "volume 40, next clip" << "volume" << "40 音量：40%";
    QTest::newRow("speed") << "speed 1.5" << "rate" << "1.5";
    QTest::newRow("speed back to 1x") << "speed 2, speed 1" << "rate" << "1";
    QTest::newRow("speed stays for the next clip") << "speed 2, next clip" << "pace" << "2";
    QTest::newRow("a seek keeps the speed") << "speed 2, play button, Right" << "pace" << "2";
    QTest::newRow("slowest speed") << "speed 0.5, play button" << "pace" << "0.5";
    QTest::newRow("fastest speed") << "speed 3, play button" << "pace" << "3";
    QTest::newRow("back 15 s") << "back button" << "position" << "5";
    QTest::newRow("back 15 s at 5 s goes to the start") << "seek 5, back button" << "position" << "0";
    QTest::newRow("on 30 s") << "forward button" << "position" << "50";
    QTest::newRow("on 30 s near the end goes to the end") << "seek 80, forward button" << "position" << "end";
    QTest::newRow("Right") << "Right" << "position" << "25";
    QTest::newRow("Left") << "Left" << "position" << "15";
    QTest::newRow("PageUp") << "PageUp" << "position" << "50";
    QTest::newRow("PageDown") << "PageDown" << "position" << "0";
    QTest::newRow("Home") << "Home" << "position" << "0";
    QTest::newRow("End") << "End" << "position" << "end";
    QTest::newRow("End while playing finishes the clip") << "play button, End" << "status" << "播放完毕";
    QTest::newRow("click on the track") << "click in the middle" << "position" << "half";
    QTest::newRow("seek while playing") << "play button, seek 60" << "playing from" << "60";
    QTest::newRow("arrow key while playing") << "play button, Right" << "playing from" << "25";
    QTest::newRow("speed change while playing") << "play button, speed 2" << "playing from" << "20";
    QTest::newRow("time") << "Home" << "time" << "0:00 | 0 秒";
    QTest::newRow("time at a minute") << "seek 60" << "time" << "1:00 | 1 分 0 秒";
    QTest::newRow("time past an hour") << "hour-long clip, seek 3661" << "time" << "1:01:01 | 1 小时 1 分 1 秒";
    QTest::newRow("a seek made as the clip ends plays from its target") << "play button, ended unseen, seek 30"
                                                                        << "playing from" << "30";
    QTest::newRow("twenty seeks in one turn end at the last") << "play button, twenty seeks" << "playing from" << "60";
    QTest::newRow("a seek past what has arrived waits for it") << "stalling clip, play button, seek 60"
                                                               << "buffering, then playing from" << "60";
    QTest::newRow("early pause on the next clip") << "slow clip early pause" << "state" << "Paused";
}

void TestMediaPane::controls()
{
    QFETCH(QString, gesture);
    QFETCH(QString, what);
    QFETCH(QString, expected);
    SinkRecorder probe;
    PlayerSession session;
    MediaPane pane;
    pane.setSession(&session);
    pane.resize(600, pane.sizeHint().height());
    pane.show();
    pane.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&pane));
    auto *play = pane.findChild<QAbstractButton *>(QStringLiteral("playButton"));
    auto *stop = pane.findChild<QAbstractButton *>(QStringLiteral("stopButton"));
    auto *mute = pane.findChild<QAbstractButton *>(QStringLiteral("muteButton"));
    auto *track = pane.findChild<QAbstractSlider *>(QStringLiteral("positionSlider"));
    auto *volume = pane.findChild<QAbstractSlider *>(QStringLiteral("volumeSlider"));
    auto *speed = pane.findChild<QComboBox *>(QStringLiteral("speedBox"));
    QVERIFY(play && stop && mute && track && volume && speed);

    // Paused before the clip's length is known: once it is known the clip
    // waits at the start, nothing has been heard, and it can seek.
    session.playback()->setAudioSink(SinkRecorder::sink());
    const QString longClip = QStringLiteral("/voice/long");
    const int fetchesBefore = m_server.requestCount(longClip);
    int clipsSet = 1;
    pane.setProperty("URL", QVariant(address("/voice/long")));
    QVERIFY(probe.attach(session.playback()));
    QCOMPARE(session.playback()->duration(), 0);
    QElapsedTimer sincePause;
    sincePause.start();
    play->click();
    QTRY_VERIFY_WITH_TIMEOUT(session.canSeek(), 10000);
    QTRY_COMPARE(session.playback()->state(), Playback::State::Paused);
    QCOMPARE(session.playback()->position(), 0);
    QCOMPARE(probe.buffers(), 0);
    session.seekTo(20000);
    const qint64 duration = session.playback()->duration();
    QVERIFY(duration > 60000);

    const QMap<QString, Qt::Key> keys{{"Right", Qt::Key_Right}, {"Left", Qt::Key_Left}, {"PageUp", Qt::Key_PageUp},
                                      {"PageDown", Qt::Key_PageDown}, {"Home", Qt::Key_Home}, {"End", Qt::Key_End}};
    for (const QString &step : gesture.split(QStringLiteral(", "), Qt::SkipEmptyParts)) {
        const QString argument = step.section(QLatin1Char(' '), 1);
        if (step == QLatin1String("play button")) {
            play->click();
        } else if (step == QLatin1String("stop button")) {
            stop->click();
        } else if (step.endsWith(QLatin1String("ward button")) || step == QLatin1String("back button")) {
            pane.findChild<QAbstractButton *>(step == QLatin1String("back button") ? QStringLiteral("backButton")
                                                                                 : QStringLiteral("forwardButton"))->click();
        } else if (step == QLatin1String("Space")) {
            speed->setFocus();
            QTest::keyClick(speed, Qt::Key_Space);
        } else if (step == QLatin1String("media play/pause")) {
            QTest::sendKeyEvent(QTest::Click, &pane, Qt::Key_MediaTogglePlayPause, QString(), Qt::NoModifier);
        } else if (step == QLatin1String("media stop")) {
            QTest::sendKeyEvent(QTest::Click, &pane, Qt::Key_MediaStop, QString(), Qt::NoModifier);
        } else if (step == QLatin1String("mute")) {
            mute->click();
        } else if (step.startsWith(QLatin1String("volume "))) {
            volume->setValue(argument.toInt());
        } else if (step.startsWith(QLatin1String("speed "))) {
            speed->setCurrentIndex(speed->findText(argument + QStringLiteral("×")));
            QVERIFY(speed->currentIndex() >= 0);
        } else if (step.startsWith(QLatin1String("seek "))) {
            session.seekTo(argument.toLongLong() * 1000);
        } else if (step == QLatin1String("next clip")) {
            pane.setProperty("URL", QVariant(address("/voice/long")));
            ++clipsSet;
            QVERIFY(QTest::qWaitFor([&] { return session.playback()->position() > 200; }, 10000));
        } else if (step == QLatin1String("slow clip early pause")) {
            // The first clip's pause is over; this clip is answered 2 s late.
            QTest::qWait(int(qMax<qint64>(0, 1500 - sincePause.elapsed())));
            pane.setProperty("URL", QVariant(address("/voice/slow")));
            play->click();
            QTRY_VERIFY_WITH_TIMEOUT(session.canSeek(), 10000);
        } else if (step == QLatin1String("stalling clip") || step == QLatin1String("hour-long clip")) {
            pane.setProperty("URL", QVariant(address(step == QLatin1String("stalling clip") ? "/voice/stalling" : "/voice/hour")));
            play->click();
            QTRY_VERIFY_WITH_TIMEOUT(session.canSeek(), 10000);
        } else if (step == QLatin1String("ended unseen")) {
            // The clip ends while the window is busy: its end waits on the
            // bus when the next seek is made.
            session.seekTo(duration - 1000);
            QVERIFY(QTest::qWaitFor([&] { return session.playback()->position() > duration - 800; }, 10000));
            QThread::msleep(1500);
        } else if (step == QLatin1String("twenty seeks")) {
            for (int i = 1; i <= 20; ++i)
                session.seekTo(i * 3000);
        } else if (step == QLatin1String("click in the middle")) {
            QStyleOptionSlider option;
            option.initFrom(track);
            option.orientation = Qt::Horizontal;
            option.minimum = track->minimum();
            option.maximum = track->maximum();
            const QRect groove = track->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, track);
            QTest::mouseClick(track, Qt::LeftButton, {}, groove.center());
        } else {
            QVERIFY2(keys.contains(step), qPrintable(step));
            track->setFocus();
            QTest::keyClick(track, keys.value(step));
        }
    }

    // How loud the clip plays now: 0.4 s of it, once it has played a while.
    const auto heard = [&](double seconds) {
        if (session.playback()->state() != Playback::State::Playing)
            session.play();
        const qint64 from = session.playback()->position();
        if (!QTest::qWaitFor([&] { return session.playback()->position() > from + 300; }, 10000))
            return std::vector<float>();
        probe.clear();
        if (!QTest::qWaitFor([&] { return probe.frames() >= std::size_t(probe.rate() * seconds); }, 10000))
            return std::vector<float>();
        return probe.samples();
    };
    const auto peak = [&] { return Heard::peak(heard(0.4), probe.channels()); };
    if (what == QLatin1String("state")) {
        QTRY_COMPARE(QString::fromLatin1(QMetaEnum::fromType<Playback::State>().valueToKey(int(session.playback()->state()))),
                     expected);
        // A player that does not play keeps no timer running.
        const auto *ticker = session.playback()->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(ticker && ticker->isActive() == (expected == QLatin1String("Playing")));
    } else if (what == QLatin1String("status")) {
        QTRY_COMPARE_WITH_TIMEOUT(pane.statusText(), expected, 10000);
        QCOMPARE(session.playback()->state(), Playback::State::Stopped);
    } else if (what == QLatin1String("muted")) {
        QCOMPARE(session.playback()->isMuted() ? "true" : "false", expected);
        const float loudest = peak();
        QVERIFY2(expected == QLatin1String("true") ? loudest == 0 : loudest > 0.8f * TestClips::kTonePeak, qPrintable(QString::number(loudest)));
    } else if (what == QLatin1String("volume")) {
        QCOMPARE(QStringLiteral("%1 %2").arg(session.playback()->volume()).arg(volume->toolTip()), expected);
        QCOMPARE(volume->value(), session.playback()->volume());
        // The slider's scale is cubic, as on the desktop's own controls.
        const double heard = peak() / TestClips::kTonePeak;
        const double wanted = std::pow(session.playback()->volume() / 100.0, 3);
        QVERIFY2(qAbs(heard - wanted) <= 0.15 * wanted, qPrintable(QStringLiteral("%1, not %2").arg(heard).arg(wanted)));
    } else if (what == QLatin1String("rate")) {
        QTRY_COMPARE(QString::number(session.playback()->rate()), expected);
        QCOMPARE(QString::number(session.speed()), expected);
    } else if (what == QLatin1String("pace")) {
        // Seconds of clip per second of sound: a player may say one speed
        // and play another.
        QTRY_COMPARE(session.playback()->state(), Playback::State::Playing);
        QTRY_VERIFY_WITH_TIMEOUT(probe.frames() > 0, 10000);
        probe.clear();
        const qint64 from = session.playback()->position();
        QTRY_VERIFY_WITH_TIMEOUT(probe.frames() >= std::size_t(probe.rate()) * 5 / 2, 10000);
        const double seconds = double(probe.frames()) / probe.rate();
        const double pace = double(session.playback()->position() - from) / 1000 / seconds;
        // A speed not applied plays at 1x, or at the one before.
        QVERIFY2(qAbs(pace - expected.toDouble()) <= 0.25 * expected.toDouble(), qPrintable(QString::number(pace)));
    } else if (what == QLatin1String("time")) {
        // As shown, and as a screen reader says it.
        const QLabel *time = pane.findChild<QLabel *>(QStringLiteral("timeLabel"));
        QCOMPARE(time->text().section(QLatin1Char(' '), 0, 0), expected.section(QStringLiteral(" | "), 0, 0));
        QCOMPARE(time->accessibleName().section(QStringLiteral("，"), 0, 0),
                 QStringLiteral("播放时间：已播放 ") + expected.section(QStringLiteral(" | "), 1));
    } else if (what == QLatin1String("buffering, then playing from")) {
        // Shown at the target while it waits, and going on from there.
        QTRY_COMPARE_WITH_TIMEOUT(pane.statusText(), QStringLiteral("缓冲中…"), 10000);
        QCOMPARE(session.playback()->position(), expected.toLongLong() * 1000);
        QTRY_VERIFY_WITH_TIMEOUT(session.playback()->position() > expected.toLongLong() * 1000 + 500, 15000);
        QVERIFY(session.playback()->position() < expected.toLongLong() * 1000 + 5000);
        QCOMPARE(pane.statusText(), address("/voice/stalling"));
        return;
    } else if (what == QLatin1String("playing from")) {
        // Plays on from there: not from the start, not stopped.
        const qint64 from = expected.toLongLong() * 1000;
        QTRY_VERIFY_WITH_TIMEOUT(session.playback()->position() > from + 500, 10000);
        QCOMPARE(session.playback()->state(), Playback::State::Playing);
        QVERIFY2(session.playback()->position() < from + 5000, qPrintable(QString::number(session.playback()->position())));
        QCOMPARE(pane.statusText(), address("/voice/long"));
    } else {
        const qint64 want = expected == QLatin1String("end") ? duration
            : expected == QLatin1String("half")          ? duration / 2
                                                         : expected.toLongLong() * 1000;
        QTRY_VERIFY2(qAbs(session.playback()->position() - want) <= 1500,
                     qPrintable(QStringLiteral("%1 ms, not %2 ms").arg(session.playback()->position()).arg(want)));
    }
    // Each clip is fetched once, whatever seeks and speed changes it saw.
    QCOMPARE(m_server.requestCount(longClip) - fetchesBefore, clipsSet);
}

void TestMediaPane::fitsTheLowerPaneWithNamedControls()
{
    PlayerSession session;
    MediaPane pane;
    pane.setSession(&session);
    QVERIFY(pane.minimumSizeHint().height() <= 80);
    QVERIFY(pane.sizeHint().height() <= 80);
    {
        // In the window's 400 px (less its margins), with the font a desktop
        // without settings of its own gives, also with the sleep timer's
        // longest words.
        PlayerSession other;
        MediaPane desktop;
        desktop.setFont(QFont(QStringLiteral("Sans Serif"), 9));
        desktop.setSession(&other);
        other.sleepTimer()->startToClipEnd();
        QVERIFY2(desktop.minimumSizeHint().width() <= 400 - 2 * 11, qPrintable(QString::number(desktop.minimumSizeHint().width())));
    }
    // A screen reader names each control as its tooltip does.
    for (QWidget *control : pane.findChildren<QWidget *>()) {
        if (!control->focusPolicy() || control->objectName().isEmpty())
            continue;
        QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
        QVERIFY2(control->toolTip().startsWith(control->accessibleName()), qPrintable(control->objectName()));
    }
    QVERIFY(!pane.findChild<QLabel *>(QStringLiteral("timeLabel"))->accessibleDescription().isEmpty());

    // A screen reader hears the status line's text at once, in full.
    const QString notice = QStringLiteral("无法打开文章：不是网页地址");
    session.showNotice(notice, QString(), PlayerSession::Notice::Lasting);
    QCOMPARE(pane.findChild<QLabel *>(QStringLiteral("statusLabel"))->accessibleDescription(), notice);
}

void TestMediaPane::shows_data()
{
    // What the pane shows of its session, and how a screen reader works it,
    // with no clip playing.
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("shown"); // its text | its accessible name
    QTest::newRow("the sleep timer, off") << "" << "sleepButton" << "睡眠定时 | 睡眠定时";
    // Picked from the button's menu, as a listener does.
    QTest::newRow("the sleep timer shows what is left") << "menu 15 分钟" << "sleepButton" << "睡眠 15:00 | 睡眠定时：还剩 15 分 0 秒";
    QTest::newRow("half an hour") << "menu 30 分钟" << "sleepButton" << "睡眠 30:00 | 睡眠定时：还剩 30 分 0 秒";
    QTest::newRow("an hour and a half") << "menu 90 分钟" << "sleepButton" << "睡眠 1:30:00 | 睡眠定时：还剩 1 小时 30 分 0 秒";
    QTest::newRow("the sleep timer at the clip's end") << "menu 本段结束" << "sleepButton"
                                                       << "睡眠：本段结束 | 睡眠：本段结束";
    QTest::newRow("连续播放 from the session") << "session plays on" << "continuousButton" << "checked";
    QTest::newRow("a screen reader's Toggle switches 跳过静音") << "toggle skipSilenceButton" << "session" << "skip";
    QTest::newRow("人声增强 from the session") << "session boost" << "voiceBoostButton" << "checked";
    QTest::newRow("the speed from the session") << "session speed 2" << "speedBox" << "2× | 播放速度";
    QTest::newRow("a long status line is cut short") << "notice" << "statusLabel" << "elided";
    QTest::newRow("a clip that failed cannot be sought in") << "failed clip" << "positionSlider" << "disabled";
}

void TestMediaPane::shows()
{
    QFETCH(QString, gesture);
    QFETCH(QString, control);
    QFETCH(QString, shown);
    PlayerSession session;
    MediaPane pane;
    pane.setSession(&session);
    pane.show();
    const QString line = QStringLiteral("无法打开文章：页面过大，而且这一行比状态栏宽得多");
    if (gesture.startsWith(QLatin1String("menu "))) {
        const QList<QAction *> entries = pane.findChild<QToolButton *>(QStringLiteral("sleepButton"))->menu()->actions();
        const auto entry = std::find_if(entries.cbegin(), entries.cend(),
                                        [&](const QAction *action) { return action->text() == gesture.mid(5); });
        QVERIFY2(entry != entries.cend(), qPrintable(gesture));
        (*entry)->trigger();
    } else if (gesture == QLatin1String("session plays on")) {
        session.setPlaysOn(true);
    } else if (gesture.startsWith(QLatin1String("toggle "))) {
        QAccessibleInterface *button = QAccessible::queryAccessibleInterface(pane.findChild<QWidget *>(gesture.mid(7)));
        QVERIFY(button && button->actionInterface());
        button->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    } else if (gesture == QLatin1String("session boost")) {
        session.setBoostVoice(true);
    } else if (gesture.startsWith(QLatin1String("session speed "))) {
        session.setSpeed(gesture.mid(14).toDouble());
    } else if (gesture == QLatin1String("notice")) {
        session.showNotice(line, QString(), PlayerSession::Notice::Lasting);
    } else if (gesture == QLatin1String("failed clip")) {
        session.open(address("/voice/missing"));
        QTRY_COMPARE_WITH_TIMEOUT(session.report(), PlayerSession::Report::Failed, 10000);
    }
    if (control == QLatin1String("session")) {
        QCOMPARE(session.skipsSilence(), true);
        QVERIFY(pane.findChild<QAbstractButton *>(QStringLiteral("skipSilenceButton"))->isChecked());
        return;
    }
    auto *widget = pane.findChild<QWidget *>(control);
    QVERIFY(widget);
    if (shown == QLatin1String("checked")) {
        QVERIFY(qobject_cast<QAbstractButton *>(widget)->isChecked());
    } else if (shown == QLatin1String("elided")) {
        // Too narrow for the whole line: cut short with an ellipsis, and a
        // screen reader still hears all of it.
        auto *label = qobject_cast<QLabel *>(widget);
        label->resize(label->fontMetrics().horizontalAdvance(line) / 2, label->height());
        QTRY_VERIFY2(label->text().endsWith(QChar(0x2026)) && line.startsWith(label->text().chopped(1)), qPrintable(label->text()));
        QCOMPARE(pane.statusText(), line);
        QCOMPARE(label->accessibleDescription(), line);
    } else if (shown == QLatin1String("disabled")) {
        for (const char *name : {"positionSlider", "backButton", "forwardButton"})
            QVERIFY2(!pane.findChild<QWidget *>(QLatin1String(name))->isEnabled(), name);
    } else {
        const auto *box = qobject_cast<QComboBox *>(widget);
        const QString text = box ? box->currentText() : qobject_cast<QAbstractButton *>(widget)->text();
        QCOMPARE(text + QStringLiteral(" | ") + widget->accessibleName(), shown);
    }
}

// A clip's ticks move the slider's value many times a second; what is
// drawn changes by the pixel, and the value stays exact for the keys.
void TestMediaPane::positionRepaintsByThePixel()
{
    PositionSlider slider;
    slider.setRange(0, 100000);
    slider.resize(100, slider.sizeHint().height());
    slider.show();
    QVERIFY(QTest::qWaitForWindowExposed(&slider));
    int paints = 0;
    struct Counter : QObject
    {
        int *paints;
        explicit Counter(int *count) : paints(count) {}
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                ++*paints;
            return false;
        }
    } counter(&paints);
    slider.installEventFilter(&counter);
    for (int ms = 0; ms <= 5000; ms += 100) { // five pixels, in fifty ticks
        slider.setValue(ms);
        QCoreApplication::processEvents();
        QCOMPARE(slider.value(), ms);
    }
    QVERIFY2(paints >= 4 && paints <= 7, qPrintable(QString::number(paints)));
}

QTEST_MAIN(TestMediaPane)
#include "tst_mediapane.moc"
