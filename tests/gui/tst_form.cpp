#include "mainwindow.h"

#include "mediapane.h"
#include "playersession.h"

#include <QAction>
#include <QGridLayout>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest>

// The window's form: which objects exist, where they sit, what they say.
class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void objectTree_data();
    void objectTree();
    void objectCount();
    void windowBasics();
    void articleRows();
    void menuBarShowsThreeMenus();
    void rightClickMenuEntries();
    void texts_data();
    void texts();
    void stretchFactors();
    void slotOrder();
    void paneTakesUrlProperty();

private:
    PlayerSession m_session;
    MainWindow *m_window = nullptr;
};

void TestForm::init()
{
    m_window = new MainWindow(&m_session);
}

void TestForm::cleanup()
{
    delete m_window;
    m_window = nullptr;
}

void TestForm::objectTree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("className");
    QTest::addColumn<QString>("parentName");

    const QStringList actions{"action_A", "action_H", "action_H_2", "action_D", "action_S",
                              "action_P", "action_S_2", "action_R", "action_A_2", "action_E"};
    for (const QString &a : actions)
        QTest::newRow(qPrintable(a)) << a << QByteArray("QAction") << QStringLiteral("MainWindow");
    QTest::newRow("centralWidget") << "centralWidget" << QByteArray("QWidget") << "MainWindow";
    QTest::newRow("gridLayout") << "gridLayout" << QByteArray("QGridLayout") << "centralWidget";
    QTest::newRow("splitter_2") << "splitter_2" << QByteArray("QSplitter") << "centralWidget";
    QTest::newRow("splitter") << "splitter" << QByteArray("QSplitter") << "splitter_2";
    QTest::newRow("listWidget") << "listWidget" << QByteArray("QListWidget") << "splitter";
    QTest::newRow("listWidget_2") << "listWidget_2" << QByteArray("QListWidget") << "splitter";
    QTest::newRow("listWidget_3") << "listWidget_3" << QByteArray("QListWidget") << "splitter";
    QTest::newRow("axWidget") << "axWidget" << QByteArray("MediaPane") << "splitter_2";
    QTest::newRow("menuBar") << "menuBar" << QByteArray("QMenuBar") << "MainWindow";
    for (const char *m : {"menu_S", "menu_H", "menu_O", "menu_R"})
        QTest::newRow(m) << QString::fromLatin1(m) << QByteArray("QMenu") << "menuBar";
}

void TestForm::objectTree()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, className);
    QFETCH(QString, parentName);

    const QList<QObject *> found = m_window->findChildren<QObject *>(name);
    QCOMPARE(found.size(), 1);
    QCOMPARE(QByteArray(found.first()->metaObject()->className()), className);
    QVERIFY(found.first()->parent());
    QCOMPARE(found.first()->parent()->objectName(), parentName);
}

void TestForm::objectCount()
{
    // Exactly the 23 named objects of the form (plus the unnamed internals
    // of Qt's widgets and of the player pane, which carry no form names).
    const QStringList formNames{"action_A", "action_H", "action_H_2", "action_D", "action_S", "action_P",
                                "action_S_2", "action_R", "action_A_2", "action_E", "centralWidget",
                                "gridLayout", "splitter_2", "splitter", "listWidget", "listWidget_2",
                                "listWidget_3", "axWidget", "menuBar", "menu_S", "menu_H", "menu_O", "menu_R"};
    int named = 0;
    for (QObject *o : m_window->findChildren<QObject *>()) {
        if (formNames.contains(o->objectName()))
            ++named;
    }
    QCOMPARE(named, 23);
    QCOMPARE(m_window->objectName(), QStringLiteral("MainWindow"));
}

void TestForm::windowBasics()
{
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Sorvalen Brimwold"));
    QCOMPARE(m_window->size(), QSize(400, 300));
    {
        // Shown with the font a desktop without settings of its own gives,
        // it opens at the form's size: the pane's controls fit.
        const QFont before = QApplication::font();
        QApplication::setFont(QFont(QStringLiteral("Sans Serif"), 9));
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        const QSize shown = m_window->size();
        // ... each in a place of its own, within the pane.
        const QWidget *pane = m_window->findChild<QWidget *>(QStringLiteral("axWidget"));
        QVERIFY(pane);
        QList<const QWidget *> controls;
        for (const QWidget *control : pane->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
            if (!control->isVisible())
                continue;
            QVERIFY2(pane->rect().contains(control->geometry()), qPrintable(control->objectName()));
            for (const QWidget *other : controls)
                QVERIFY2(!control->geometry().intersects(other->geometry()),
                         qPrintable(control->objectName() + QStringLiteral(" over ") + other->objectName()));
            controls.append(control);
        }
        QVERIFY(controls.size() >= 10);
        QApplication::setFont(before);
        QCOMPARE(shown, QSize(400, 300));
    }
    QCOMPARE(m_window->centralWidget()->objectName(), QStringLiteral("centralWidget"));
    QCOMPARE(m_window->menuBar()->objectName(), QStringLiteral("menuBar"));
    QVERIFY(!m_window->findChild<QStatusBar *>());
    QVERIFY(!m_window->findChild<QToolBar *>());

    auto *grid = m_window->findChild<QGridLayout *>(QStringLiteral("gridLayout"));
    QCOMPARE(grid->spacing(), 6);
    QCOMPARE(grid->contentsMargins(), QMargins(11, 11, 11, 11));
    QCOMPARE(grid->itemAtPosition(0, 0)->widget()->objectName(), QStringLiteral("splitter_2"));

    auto *links = m_window->findChild<QListWidget *>(QStringLiteral("listWidget_2"));
    QCOMPARE(links->contextMenuPolicy(), Qt::CustomContextMenu);
    QCOMPARE(links->count(), 0);
    QCOMPARE(m_window->findChild<QListWidget *>(QStringLiteral("listWidget_3"))->count(), 0);

    auto *outer = m_window->findChild<QSplitter *>(QStringLiteral("splitter_2"));
    auto *inner = m_window->findChild<QSplitter *>(QStringLiteral("splitter"));
    QCOMPARE(outer->orientation(), Qt::Vertical);
    QCOMPARE(inner->orientation(), Qt::Horizontal);
    QCOMPARE(outer->widget(0), inner);
    QCOMPARE(outer->widget(1)->objectName(), QStringLiteral("axWidget"));
    QCOMPARE(inner->widget(0)->objectName(), QStringLiteral("listWidget"));
    QCOMPARE(inner->widget(1)->objectName(), QStringLiteral("listWidget_2"));
    QCOMPARE(inner->widget(2)->objectName(), QStringLiteral("listWidget_3"));
}

void TestForm::articleRows()
{
    auto *articles = m_window->findChild<QListWidget *>(QStringLiteral("listWidget"));
    QCOMPARE(articles->count(), 3);
    QCOMPARE(articles->item(0)->text(), QStringLiteral("修仙"));
    QCOMPARE(articles->item(1)->text(), QStringLiteral("打脸"));
    QCOMPARE(articles->item(2)->text(), QStringLiteral("新书"));
    QVERIFY(!articles->isSortingEnabled());
}

void TestForm::menuBarShowsThreeMenus()
{
    QStringList all;
    QStringList shown;
    for (QAction *a : m_window->menuBar()->actions()) {
        all.append(a->menu()->objectName());
        if (a->isVisible())
            shown.append(a->text());
    }
    QCOMPARE(all, (QStringList{"menu_O", "menu_R", "menu_S", "menu_H"}));
    QCOMPARE(shown, (QStringList{"打开(&O)", "设置(&S)", "帮助(&H)"}));
}

void TestForm::rightClickMenuEntries()
{
    auto *menu = m_window->findChild<QMenu *>(QStringLiteral("menu_R"));
    QStringList entries;
    for (QAction *a : menu->actions())
        entries.append(a->isSeparator() ? QStringLiteral("-") : a->objectName());
    QCOMPARE(entries, (QStringList{"action_P", "action_A_2", "-", "action_E", "-", "action_S_2", "action_R"}));

    const auto entriesOf = [this](const char *name) {
        QStringList list;
        for (QAction *a : m_window->findChild<QMenu *>(QString::fromLatin1(name))->actions())
            list.append(a->objectName());
        return list;
    };
    QCOMPARE(entriesOf("menu_O"), (QStringList{"action_H_2", "action_D"}));
    QCOMPARE(entriesOf("menu_S"), (QStringList{"action_H", "action_S"}));
    QCOMPARE(entriesOf("menu_H"), (QStringList{"action_A"}));
}

void TestForm::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("action_A") << "action_A" << "关于(&A)";
    QTest::newRow("action_H") << "action_H" << "保存播放历史(&H)";
    QTest::newRow("action_H_2") << "action_H_2" << "播放历史(&H)";
    QTest::newRow("action_D") << "action_D" << "调试窗口(&D)";
    QTest::newRow("action_S") << "action_S" << "自动重排序(&S)";
    QTest::newRow("action_P") << "action_P" << "播放(&P)";
    QTest::newRow("action_S_2") << "action_S_2" << "正序排序(&S)";
    QTest::newRow("action_R") << "action_R" << "反序排序(&R)";
    QTest::newRow("action_A_2") << "action_A_2" << "播放全部(&A)";
    QTest::newRow("action_E") << "action_E" << "导出播放单(&E)";
    QTest::newRow("menu_S") << "menu_S" << "设置(&S)";
    QTest::newRow("menu_H") << "menu_H" << "帮助(&H)";
    QTest::newRow("menu_O") << "menu_O" << "打开(&O)";
    QTest::newRow("menu_R") << "menu_R" << "右键(&R)";
}

void TestForm::texts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    if (auto *action = m_window->findChild<QAction *>(name)) {
        QCOMPARE(action->text(), text);
        QVERIFY(action->isEnabled() && action->isVisible() && !action->isCheckable());
    } else {
        auto *menu = m_window->findChild<QMenu *>(name);
        QVERIFY(menu);
        QCOMPARE(menu->title(), text);
    }
}

void TestForm::stretchFactors()
{
    auto *inner = m_window->findChild<QSplitter *>(QStringLiteral("splitter"));
    auto *outer = m_window->findChild<QSplitter *>(QStringLiteral("splitter_2"));
    QCOMPARE(inner->widget(0)->sizePolicy().horizontalStretch(), 2);
    QCOMPARE(inner->widget(1)->sizePolicy().horizontalStretch(), 3);
    QCOMPARE(inner->widget(2)->sizePolicy().horizontalStretch(), 5);
    QCOMPARE(outer->widget(0)->sizePolicy().verticalStretch(), 7);
    QCOMPARE(outer->widget(1)->sizePolicy().verticalStretch(), 3);
}

void TestForm::slotOrder()
{
    const QMetaObject &mo = MainWindow::staticMetaObject;
    QCOMPARE(QByteArray(mo.className()), QByteArray("MainWindow"));
    QStringList slotNames;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
        const QMetaMethod m = mo.method(i);
        QCOMPARE(m.methodType(), QMetaMethod::Slot);
        QCOMPARE(m.access(), QMetaMethod::Private);
        slotNames.append(QString::fromLatin1(m.methodSignature()));
    }
    QCOMPARE(slotNames, (QStringList{"funreply(QNetworkReply*)", "on_action_A_triggered()",
                                 "on_listWidget_2_doubleClicked(QModelIndex)", "on_listWidget_clicked(QModelIndex)",
                                 "on_action_D_triggered()", "on_listWidget_2_customContextMenuRequested(QPoint)",
                                 "on_listWidget_3_doubleClicked(QModelIndex)"}));
    QCOMPARE(mo.propertyCount(), mo.propertyOffset());
}

void TestForm::paneTakesUrlProperty()
{
    auto *pane = m_window->findChild<MediaPane *>(QStringLiteral("axWidget"));
    QVERIFY(pane);
    QVERIFY(pane->metaObject()->indexOfProperty("URL") >= 0);
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"
