#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "sim_line_test.h"

namespace {

class LineTest : public SimLineTest {
protected:
    void Start(int motor_id, int clear_delay_ms = 100) {
        SimConfig config;
        config.motor_ids = {motor_id};
        config.eeprom_clear_delay_ms = clear_delay_ms;
        OpenLine(config);
        OpenMotor(motor_id);
    }
    std::string Written() const {
        std::string bytes;
        for (const auto& w : log->writes) bytes.append(w.begin(), w.end());
        return bytes;
    }
};

TEST_F(LineTest, ClearEepromAcceptsThePaddedAcknowledgement) {
    Start(5);
    window.motor = "05";
    ClearEepromButtonClick(*port, rec, window);
    EXPECT_EQ(Written(), "#5~\r");
    EXPECT_EQ(rec.lines, (std::vector<std::string>{"Clear EEPROM", "005~\r", "OK"}));
    EXPECT_EQ(sim->eeprom_clears(), 1);
}

TEST_F(LineTest, ClearEepromFailsOnAOneDigitAcknowledgement) {
    Start(1);
    sim->short_eeprom_ack(true);
    ClearEepromButtonClick(*port, rec, window);
    std::vector<std::string> expected{"Clear EEPROM", "1~\r"};
    expected.insert(expected.end(), 9, ".");
    expected.push_back("FAILED");
    EXPECT_EQ(rec.lines, expected);
}

TEST_F(LineTest, ClearEepromFailsOnASilentController) {
    Start(1);
    sim->set_silent(true);
    ClearEepromButtonClick(*port, rec, window);
    std::vector<std::string> expected{"Clear EEPROM"};
    expected.insert(expected.end(), 10, ".");
    expected.push_back("FAILED");
    EXPECT_EQ(rec.lines, expected);
}

// The command has gone out, so neither "OK" nor "FAILED" would be true.
TEST_F(LineTest, ClearEepromStopsBetweenAttemptsWithoutAResult) {
    Start(1);
    sim->set_silent(true);
    rec.stop_when = [this] { return std::count(rec.lines.begin(), rec.lines.end(), ".") >= 2; };
    ClearEepromButtonClick(*port, rec, window);
    EXPECT_EQ(rec.lines, (std::vector<std::string>{
                             "Clear EEPROM", ".", ".",
                             "Stopped: Clear EEPROM was interrupted, its result is unknown"}));
}

TEST_F(LineTest, ClearEepromNeedsAMotorNumber) {
    Start(1);
    window.motor = "*";
    ClearEepromButtonClick(*port, rec, window);
    EXPECT_EQ(rec.lines, std::vector<std::string>{"Error: you must select a motor ID"});
    EXPECT_TRUE(log->writes.empty());
}

const std::vector<std::string> kProgram{"(J4660", "(J153208", "(J262145", "(J393218", "(J524291"};

TEST_F(LineTest, UploadSendsEveryLineBetweenOpeningAndClosing) {
    Start(3);
    window.java = kProgram;
    sim->send_raw("003stale\r");  // left over from earlier: discarded, never shown

    EXPECT_TRUE(UploadProgram(*port, *motor, rec, window));

    EXPECT_EQ(rec.lines, (std::vector<std::string>{"(JS", "(JI"}));
    std::vector<std::string> expected{"(JS"};
    expected.insert(expected.end(), kProgram.begin(), kProgram.end());
    expected.push_back("(JI");
    EXPECT_EQ(Commands(), expected);
    EXPECT_EQ(rec.max, 5);
    EXPECT_EQ(rec.position, 4);
    EXPECT_EQ(rec.repaints, 5);
}

TEST_F(LineTest, UploadStopsAtTheFirstWrongEcho) {
    Start(3);
    window.java = kProgram;
    sim->wrong_echo_at(2);  // echoed as "(j262145": letter case counts

    EXPECT_FALSE(UploadProgram(*port, *motor, rec, window));

    EXPECT_EQ(rec.lines,
              (std::vector<std::string>{"(JS", "comm error:", "->(J262145", "<-(j262145"}));
    const auto commands = Commands();
    EXPECT_EQ(commands.back(), "(J262145");
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "(JI"), 0);
    EXPECT_EQ(rec.position, 1);
}

TEST_F(LineTest, UploadStopsBetweenLinesWithoutClosing) {
    Start(3);
    window.java = kProgram;
    rec.stop_when = [this] { return rec.position >= 1; };

    EXPECT_FALSE(UploadProgram(*port, *motor, rec, window));

    EXPECT_EQ(rec.lines, (std::vector<std::string>{
                             "(JS",
                             "Stopped: the program upload was interrupted, the program was "
                             "not completed"}));
    EXPECT_EQ(Commands(), (std::vector<std::string>{"(JS", "(J4660", "(J153208"}));
}

}  // namespace
