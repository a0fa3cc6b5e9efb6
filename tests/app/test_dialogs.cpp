// The About and How-to boxes.

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "app/dialogs.h"
#include "app/howto_dlg.h"
#include "app/software_dlg.h"
#include "window_bench.h"

namespace {

QStringList memo_lines(const QPlainTextEdit* memo) { return memo->toPlainText().split('\n'); }

TEST(AboutBox, ShowsItsThirteenLinesOnceHoweverOftenOpened) {
    WindowBench b;
    b.w->show();  // the box sits on the main window, as in a real session
    Tsoftware& about = *b.w->software;
    b.w->About1Click();
    about.OK->click();
    EXPECT_FALSE(about.isVisible());
    b.w->About1Click();
    EXPECT_TRUE(about.isVisible());
    EXPECT_FALSE(about.isModal());
    const QStringList lines = memo_lines(about.Memo1);
    ASSERT_EQ(lines.size(), 13);
    EXPECT_EQ(lines[0], "Korvane Firmware Utility");
    EXPECT_EQ(lines[2], "Software Version: 1.36.0.1");
    for (int empty : {1, 3, 5, 9}) EXPECT_TRUE(lines[empty].isEmpty()) << empty;

    click_for_focus(about.OK);
    press_key(Qt::Key_Escape);
    EXPECT_FALSE(about.isVisible());
    b.w->About1Click();
    click_for_focus(about.Memo1->viewport());
    press_key(Qt::Key_Escape);
    EXPECT_FALSE(about.isVisible());
}

TEST(HowToBox, HoldsTheCribSheetAndIgnoresEscape) {
    WindowBench b;
    b.w->show();
    TfrmHowTo& howto = *b.w->frmHowTo;
    b.w->howto1Click();
    b.w->About1Click();  // both can be open beside the main window
    EXPECT_TRUE(howto.isVisible() && b.w->software->isVisible());
    const QStringList lines = memo_lines(howto.Memo1);
    ASSERT_EQ(lines.size(), 36);
    EXPECT_EQ(lines[4], "if equal              --> #ifeq(command,value){");
    EXPECT_EQ(lines[18], QString(38, '_'));
    EXPECT_EQ(lines[28], "#output this text behind #output will be printed on ");
    EXPECT_EQ(lines[35], "#tm500");

    click_for_focus(howto.Memo1->viewport());
    press_key(Qt::Key_Escape);
    EXPECT_TRUE(howto.isVisible());
    howto.Button1->click();
    EXPECT_FALSE(howto.isVisible());
}

TEST(FileDialogs, FiltersBecomeTheToolkitsFormAndListTheirFiles) {
    WindowBench b;
    const QStringList open = name_filters(b.w->OpenFirmwareDialog->filter);
    EXPECT_EQ(open, (QStringList{"Korvane files (*.hex *.prg *.cfg)", "Java Program (*.prg)",
                                 "Intel hex file (*.hex)", "configuration files (*.cfg)",
                                 "all files (*.*)"}));
    EXPECT_EQ(name_filters(b.w->EEDump->filter), QStringList{"EEProm Dump (*.eed)"});
    EXPECT_EQ(name_filters(b.w->SaveFirmwareDialog->filter),
              QStringList{"Configuration Files (*.cfg)"});
    EXPECT_TRUE(name_filters(b.w->ScriptLogDialog->filter).isEmpty());

    // What the user sees: the first filter lists the three document kinds.
    QTemporaryDir dir;
    for (const char* name : {"fw.hex", "prog.prg", "setup.cfg", "notes.txt"}) {
        std::ofstream((dir.path() + "/" + name).toStdString()) << "x";
    }
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters(open);
    dialog.setDirectory(dir.path());
    dialog.show();
    auto* list = dialog.findChild<QListView*>("listView");
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return list->model()->rowCount(list->rootIndex()) == 3; }, 3000));
}

}  // namespace
