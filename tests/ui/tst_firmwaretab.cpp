#include "tests/ui/testimage.h"
#include "tests/ui/windowtesthelpers.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstring>

using namespace windowtest;

namespace {

const char *const kSectionBoxes[] = {"fwTabCBFlashApp", "fwTabCBFlashSettings", "fwTabCBFlashCal", "fwTabCBIgnoreHWID"};
const char *const kBoxTags[] = {"app", "settings", "cal", "hwid"};

// "E"/"D" for enabled/disabled and "x"/"-" for checked/unchecked, one pair per box.
QString boxStates(const MainWindow &window)
{
    QStringList states;
    for (const char *name : kSectionBoxes) {
        auto *box = widget<QCheckBox>(window, name);
        states << QString(box->isEnabled() ? QStringLiteral("E") : QStringLiteral("D")) +
                      (box->isChecked() ? QStringLiteral("x") : QStringLiteral("-"));
    }
    return states.join(QLatin1Char(' '));
}

// Records, in order, every clicked(bool) of the section boxes and every flash or cancel request.
class RequestRecorder : public QObject
{
public:
    explicit RequestRecorder(MainWindow &window)
    {
        for (int i = 0; i < 4; ++i) {
            const QString tag = QString::fromLatin1(kBoxTags[i]);
            connect(widget<QCheckBox>(window, kSectionBoxes[i]), &QCheckBox::clicked, this, [this, tag](bool checked) {
                events << tag + (checked ? QStringLiteral("=1") : QStringLiteral("=0"));
            });
        }
        connect(&window, &MainWindow::flashDeviceRequest, this,
                [this](const QString &path) { events << QStringLiteral("flash=") + path; });
        connect(&window, &MainWindow::cancelFlashDeviceRequest, this, [this] { events << QStringLiteral("cancel"); });
    }
    QStringList events;
};

QStringList infoRows(const MainWindow &window, int first, int last)
{
    auto *table = widget<QTableWidget>(window, "fwInfoTable");
    QStringList texts;
    for (int row = first; row <= last; ++row)
        texts << (table->item(row, 0) ? table->item(row, 0)->text() : QStringLiteral("<no item>"));
    return texts;
}

TestImage fullImage()
{
    TestImage image;
    image.settings = TestImage::section("ZVLS", 1, 3);
    image.calibration = TestImage::section("ZVLC", 2, 0, 96);
    return image;
}

template<std::size_t N> void putWord(std::array<quint8, N> &block, int offset, quint16 value)
{
    qToLittleEndian<quint16>(value, block.data() + offset);
}

template<std::size_t N>
void putRecordHeader(std::array<quint8, N> &block, const char *magic, quint16 major, quint16 minor)
{
    std::memcpy(block.data(), magic, 4);
    putWord(block, 12, minor);
    putWord(block, 14, major);
}

RWTarget::APP_BL_REG_RO_T infoRecord(quint16 blVersion, quint16 blPart, quint16 fwVersion, quint16 hwId)
{
    RWTarget::APP_BL_REG_RO_T record;
    putWord(record.BL_INFO_BLOCK, 0, blVersion);
    putWord(record.BL_INFO_BLOCK, 2, blPart);
    putWord(record.APP_INFO_BLOCK, 0, fwVersion);
    putWord(record.APP_INFO_BLOCK, 2, 0x1111); // the application's own part number is not shown
    putWord(record.APP_INFO_BLOCK, 4, hwId);
    return record;
}

void putSerial(RWTarget::APP_BL_REG_RO_T &record, const QByteArray &serial)
{
    std::memcpy(record.CALIBRATION_RECORD.data() + RWTarget::CAL_HEADER_SIZE, serial.constData(),
                std::min<std::size_t>(serial.size(), RWTarget::CAL_SERIAL_SIZE));
}

} // namespace

class tst_FirmwareTab : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        prepareWindowTests();
        QVERIFY(dir.isValid());
    }

    void construction_sectionBoxesStartDisabledAndRowsAreReadOnly();
    void openFirmwareFile_loadsTheChosenFileAndACancelKeepsIt();
    void loadFirmwareFile_setsTheSectionBoxes_data();
    void loadFirmwareFile_setsTheSectionBoxes();
    void loadFirmwareFile_showsTheHeader_data();
    void loadFirmwareFile_showsTheHeader();
    void updateBlAppInfo_showsTheBoard_data();
    void updateBlAppInfo_showsTheBoard();
    void updateBlAppInfo_recordsWithoutMagicBlankTheirRows();
    void boardRows_blankOnceTheBoardIsGone_data();
    void boardRows_blankOnceTheBoardIsGone();
    void bytesFlashed_rightAlignedToSeven_data();
    void bytesFlashed_rightAlignedToSeven();
    void progress_acceptsOnlyZeroToHundred_data();
    void progress_acceptsOnlyZeroToHundred();
    void flashButton_checksInOrder_data();
    void flashButton_checksInOrder();
    void flashButton_cancelWhileFlashing();
    void result_writesItsTextAndReturnsToIdle_data();
    void result_writesItsTextAndReturnsToIdle();
    void commandLine_infoFromAConnectedBoardStartsOneFlash_data();
    void commandLine_infoFromAConnectedBoardStartsOneFlash();
    void commandLine_infoDuringTheFlashOnlyCancels();
    void commandLine_firstResultExitsWithItsCode();

private:
    QString writeImage(const QString &name, const TestImage &image)
    {
        const QString path = dir.filePath(name);
        if (!image.writeTo(path))
            qWarning("cannot write %s", qPrintable(path));
        return path;
    }

    QTemporaryDir dir;
};

void tst_FirmwareTab::construction_sectionBoxesStartDisabledAndRowsAreReadOnly()
{
    auto window = makeWindow();
    QCOMPARE(boxStates(*window), QStringLiteral("D- D- D- D-"));
    auto *table = widget<QTableWidget>(*window, "fwInfoTable");
    QCOMPARE(table->rowCount(), 15);
    for (int row = 0; row < table->rowCount(); ++row) {
        QVERIFY(table->item(row, 0));
        QCOMPARE(table->item(row, 0)->flags(), Qt::ItemFlags(Qt::ItemIsEnabled));
    }
}

void tst_FirmwareTab::openFirmwareFile_loadsTheChosenFileAndACancelKeepsIt()
{
    auto window = makeWindow();
    window->connectCOMPortResponse(true);
    const QString path = writeImage(QStringLiteral("chosen.bin"), fullImage());

    QString caption;
    QString startDirectory;
    QTimer::singleShot(0, this, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        caption = dialog->windowTitle();
        startDirectory = dialog->directory().absolutePath();
        dialog->selectFile(path);
        static_cast<QDialog *>(dialog)->accept();
    });
    button(*window, "fwLoadFirmwareButton")->click();
    QCOMPARE(caption, QStringLiteral("Select .bin File:"));
    QCOMPARE(startDirectory, QDir::homePath());
    QCOMPARE(widget<QLineEdit>(*window, "fwImagePath")->text(), path);
    QCOMPARE(boxStates(*window), QStringLiteral("Ex Ex Ex E-"));

    // The next dialog opens where the last file was; cancelling it keeps the loaded file.
    QTimer::singleShot(0, this, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        startDirectory = dialog->directory().absolutePath();
        dialog->reject();
    });
    button(*window, "fwLoadFirmwareButton")->click();
    QCOMPARE(startDirectory, QFileInfo(path).absolutePath());
    QCOMPARE(widget<QLineEdit>(*window, "fwImagePath")->text(), path);
    QCOMPARE(boxStates(*window), QStringLiteral("Ex Ex Ex E-"));
    window->boardConnectedStatus(true);
    RequestRecorder recorder(*window);
    button(*window, "fwFlashFirmwareButton")->click();
    QCOMPARE(recorder.events, QStringList{"flash=" + path});
}

void tst_FirmwareTab::loadFirmwareFile_setsTheSectionBoxes_data()
{
    QTest::addColumn<bool>("loadPrevious");
    QTest::addColumn<QByteArray>("image"); // null: the file does not exist
    QTest::addColumn<QString>("boxes");
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<QString>("lastMessage");
    QTest::addColumn<QStringList>("rows9to14");
    QTest::addColumn<bool>("pathShown");

    const QStringList fullRows{"1.2", "4321", "77", "Test image", "1.3", "2.0"};

    QTest::newRow("good image with all sections")
        << false << fullImage().build() << "Ex Ex Ex E-" << QStringList{"app=1", "settings=1", "cal=1"}
        << "FW Version: 1.2" << fullRows << true;

    TestImage appOnly;
    QTest::newRow("application only") << false << appOnly.build() << "Ex D- D- E-"
                                      << QStringList{"app=1", "settings=0", "cal=0"} << "FW Version: 1.2"
                                      << QStringList{"1.2", "4321", "77", "Test image", "", ""} << true;

    TestImage noSettings = fullImage();
    noSettings.settings.clear();
    noSettings.version = 0x0300;
    QTest::newRow("settings size zero after an image that had it")
        << true << noSettings.build() << "Ex D- Ex E-" << QStringList{"app=1", "settings=0", "cal=1"}
        << "FW Version: 3.0" << QStringList{"3.0", "4321", "77", "Test image", "", "2.0"} << true;

    TestImage foreignSettings = fullImage();
    foreignSettings.settings = TestImage::section("ZVLX", 9, 9);
    foreignSettings.calibration = TestImage::section("ZVLC", 4, 1);
    QTest::newRow("settings without its magic is not offered")
        << true << foreignSettings.build() << "Ex D- Ex E-" << QStringList{"app=1", "settings=0", "cal=1"}
        << "FW Version: 1.2" << QStringList{"1.2", "4321", "77", "Test image", "", "4.1"} << true;

    TestImage foreignCalibration = fullImage();
    foreignCalibration.calibration = TestImage::section("ZVLS", 3, 3);
    QTest::newRow("calibration with the settings magic is not offered")
        << true << foreignCalibration.build() << "Ex Ex D- E-" << QStringList{"app=1", "settings=1", "cal=0"}
        << "FW Version: 1.2" << QStringList{"1.2", "4321", "77", "Test image", "1.3", ""} << true;

    const QStringList blankRows{"", "", "", "", "", ""};
    const QStringList refusedClicks{"app=0", "settings=0", "cal=0"};

    TestImage wrongMagic = fullImage();
    wrongMagic.magic = "ZVLP";
    wrongMagic.version = 0x0909;
    QTest::newRow("wrong magic refuses every section")
        << true << wrongMagic.build() << "D- D- D- D-" << refusedClicks << "Incorrect file type!" << blankRows << false;

    TestImage sectionsPastEnd = fullImage();
    sectionsPastEnd.calibrationSizeField = 100000;
    QTest::newRow("section sizes point past the end")
        << true << sectionsPastEnd.build() << "D- D- D- D-" << refusedClicks << "Firmware file is truncated!"
        << blankRows << false;

    TestImage shortFile = fullImage();
    shortFile.truncateTo = 100;
    QTest::newRow("shorter than its header") << true << shortFile.build() << "D- D- D- D-" << refusedClicks
                                             << "Firmware file is truncated!" << blankRows << false;

    QTest::newRow("missing file is refused")
        << true << QByteArray() << "D- D- D- D-" << refusedClicks
        << "Unable to open firmware file: No such file or directory" << blankRows << false;
}

void tst_FirmwareTab::loadFirmwareFile_setsTheSectionBoxes()
{
    QFETCH(bool, loadPrevious);
    QFETCH(QByteArray, image);
    QFETCH(QString, boxes);
    QFETCH(QStringList, clicks);
    QFETCH(QString, lastMessage);
    QFETCH(QStringList, rows9to14);
    QFETCH(bool, pathShown);

    auto window = makeWindow();
    const QString previousPath = writeImage(QStringLiteral("previous.bin"), fullImage());
    if (loadPrevious) {
        window->setFirmwareFilePath(previousPath);
        window->loadFirmwareFile();
        QCOMPARE(boxStates(*window), QStringLiteral("Ex Ex Ex E-"));
    }

    const QString path = dir.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_') + ".bin");
    if (!image.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(image), qint64(image.size()));
    }

    RequestRecorder recorder(*window);
    window->setFirmwareFilePath(path);
    window->loadFirmwareFile();

    QCOMPARE(boxStates(*window), boxes);
    QCOMPARE(recorder.events, clicks);
    QCOMPARE(lastConsoleMessage(*window), lastMessage);
    QCOMPARE(infoRows(*window, 9, 14), rows9to14);
    QCOMPARE(widget<QLineEdit>(*window, "fwImagePath")->text(), pathShown ? path : QString());
}

void tst_FirmwareTab::loadFirmwareFile_showsTheHeader_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("partNumber");
    QTest::addColumn<int>("hardwareId");
    QTest::addColumn<QByteArray>("description");
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QByteArray>("calibration");
    QTest::addColumn<QStringList>("rows9to14");

    QTest::newRow("two-digit major") << 0x0A05 << 65535 << 0 << QByteArray("Board A")
                                     << TestImage::section("ZVLS", 1, 3) << TestImage::section("ZVLC", 256, 65535)
                                     << QStringList{"10.5", "65535", "0", "Board A", "1.3", "256.65535"};
    QTest::newRow("description fills the header")
        << 0x0000 << 1 << 65535 << QByteArray(128, 'D') << QByteArray() << QByteArray()
        << QStringList{"0.0", "1", "65535", QString(128, 'D'), "", ""};
    QTest::newRow("UTF-8 description") << 0xFF01 << 12 << 34
                                       << QByteArray("Gr\xC3\xB6\xC3\x9F"
                                                     "e")
                                       << QByteArray() << QByteArray()
                                       << QStringList{"255.1",
                                                      "12",
                                                      "34",
                                                      QString::fromUtf8("Gr\xC3\xB6\xC3\x9F"
                                                                        "e"),
                                                      "",
                                                      ""};
}

void tst_FirmwareTab::loadFirmwareFile_showsTheHeader()
{
    QFETCH(int, version);
    QFETCH(int, partNumber);
    QFETCH(int, hardwareId);
    QFETCH(QByteArray, description);
    QFETCH(QByteArray, settings);
    QFETCH(QByteArray, calibration);
    QFETCH(QStringList, rows9to14);

    TestImage image;
    image.version = quint16(version);
    image.partNumber = quint16(partNumber);
    image.hardwareId = quint16(hardwareId);
    image.description = description;
    image.settings = settings;
    image.calibration = calibration;

    auto window = makeWindow();
    window->setFirmwareFilePath(writeImage(QStringLiteral("header.bin"), image));
    window->loadFirmwareFile();
    QCOMPARE(infoRows(*window, 9, 14), rows9to14);
    QCOMPARE(lastConsoleMessage(*window), QStringLiteral("FW Version: ") + rows9to14.first());
}

void tst_FirmwareTab::updateBlAppInfo_showsTheBoard_data()
{
    QTest::addColumn<int>("blVersion");
    QTest::addColumn<int>("blPart");
    QTest::addColumn<int>("fwVersion");
    QTest::addColumn<int>("hwId");
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<QStringList>("rows1to7");

    QTest::newRow("versions high byte first") << 0x0203 << 513 << 0x0A05 << 4660 << QByteArray("SN-0001")
                                              << QStringList{"2.3", "513", "10.5", "4660", "1.3", "2.7", "SN-0001"};
    QTest::newRow("serial fills its whole field")
        << 0xFFFF << 65535 << 0 << 0 << QByteArray(68, 'S')
        << QStringList{"255.255", "65535", "0.0", "0", "1.3", "2.7", QString(68, 'S')};
}

void tst_FirmwareTab::updateBlAppInfo_showsTheBoard()
{
    QFETCH(int, blVersion);
    QFETCH(int, blPart);
    QFETCH(int, fwVersion);
    QFETCH(int, hwId);
    QFETCH(QByteArray, serial);
    QFETCH(QStringList, rows1to7);

    RWTarget::APP_BL_REG_RO_T record =
        infoRecord(quint16(blVersion), quint16(blPart), quint16(fwVersion), quint16(hwId));
    putRecordHeader(record.SETTINGS_RECORD, "ZVLS", 1, 3);
    putRecordHeader(record.CALIBRATION_RECORD, "ZVLC", 2, 7);
    putSerial(record, serial);

    auto window = makeWindow();
    window->updateBlAppInfo(record);
    QCOMPARE(infoRows(*window, 1, 7), rows1to7);
    QCOMPARE(infoRows(*window, 0, 0), QStringList{""});
    QCOMPARE(infoRows(*window, 8, 8), QStringList{""});
}

void tst_FirmwareTab::updateBlAppInfo_recordsWithoutMagicBlankTheirRows()
{
    auto window = makeWindow();
    RWTarget::APP_BL_REG_RO_T first = infoRecord(0x0101, 1, 0x0101, 1);
    putRecordHeader(first.SETTINGS_RECORD, "ZVLS", 1, 3);
    putRecordHeader(first.CALIBRATION_RECORD, "ZVLC", 2, 7);
    putSerial(first, "FIRST");
    window->updateBlAppInfo(first);

    RWTarget::APP_BL_REG_RO_T second = infoRecord(0x0202, 2, 0x0303, 3);
    putRecordHeader(second.SETTINGS_RECORD, "ZVLC", 5, 5); // the other record's magic
    putRecordHeader(second.CALIBRATION_RECORD, "zvlc", 6, 6);
    putSerial(second, "SECOND");
    window->updateBlAppInfo(second);

    QCOMPARE(infoRows(*window, 1, 7), (QStringList{"2.2", "2", "3.3", "3", "", "", ""}));
}

void tst_FirmwareTab::boardRows_blankOnceTheBoardIsGone_data()
{
    QTest::addColumn<QString>("event");
    QTest::newRow("board released or lost") << "board gone";
    QTest::newRow("port closed") << "port closed";
    QTest::newRow("board still there") << "";
}

void tst_FirmwareTab::boardRows_blankOnceTheBoardIsGone()
{
    QFETCH(QString, event);
    auto window = makeWindow();
    openPortWithBoard(*window);
    window->setFirmwareFilePath(writeImage(QStringLiteral("rows.bin"), fullImage()));
    window->loadFirmwareFile();
    RWTarget::APP_BL_REG_RO_T record = infoRecord(0x0101, 1, 0x0102, 7);
    putRecordHeader(record.SETTINGS_RECORD, "ZVLS", 1, 3);
    putRecordHeader(record.CALIBRATION_RECORD, "ZVLC", 2, 7);
    putSerial(record, "BOARD-A");
    window->updateBlAppInfo(record);
    const QStringList boardRows{"1.1", "1", "1.2", "7", "1.3", "2.7", "BOARD-A"};
    QCOMPARE(infoRows(*window, 1, 7), boardRows);

    if (event == "board gone")
        window->boardConnectedStatus(false);
    else if (event == "port closed")
        window->disconnectCOMPortResponse();

    const QStringList blank{"", "", "", "", "", "", ""};
    QCOMPARE(infoRows(*window, 1, 7), event.isEmpty() ? boardRows : blank);
    // The image's rows belong to the file, not to the board.
    QCOMPARE(infoRows(*window, 9, 9), QStringList{"1.2"});
}

void tst_FirmwareTab::bytesFlashed_rightAlignedToSeven_data()
{
    QTest::addColumn<int>("bytes");
    QTest::addColumn<QString>("message");
    QTest::newRow("zero") << 0 << QStringLiteral("      0 bytes flashed.");
    QTest::newRow("1024") << 1024 << QStringLiteral("   1024 bytes flashed.");
    QTest::newRow("seven digits") << 1234567 << QStringLiteral("1234567 bytes flashed.");
    QTest::newRow("more than seven digits in full") << 123456789 << QStringLiteral("123456789 bytes flashed.");
    QTest::newRow("negative") << -64 << QStringLiteral("    -64 bytes flashed.");
}

void tst_FirmwareTab::bytesFlashed_rightAlignedToSeven()
{
    QFETCH(int, bytes);
    QFETCH(QString, message);
    auto window = makeWindow();
    window->updateBytesTransferredRequest(bytes);
    QCOMPARE(consoleMessages(*window), QStringList{message});
}

void tst_FirmwareTab::progress_acceptsOnlyZeroToHundred_data()
{
    QTest::addColumn<int>("progress");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("0") << 0 << true;
    QTest::newRow("57") << 57 << true;
    QTest::newRow("100") << 100 << true;
    QTest::newRow("101") << 101 << false;
    QTest::newRow("-1") << -1 << false;
}

void tst_FirmwareTab::progress_acceptsOnlyZeroToHundred()
{
    QFETCH(int, progress);
    QFETCH(bool, accepted);
    auto window = makeWindow();
    auto *bar = widget<QProgressBar>(*window, "fwProgressBar");
    QVERIFY(!bar->isTextVisible());
    bar->setValue(33);

    window->updateProgressBarRequest(progress);
    QCOMPARE(bar->isTextVisible(), accepted);
    QCOMPARE(bar->value(), accepted ? progress : 33);

    // A result leaves the bar alone; only Clear Console resets it.
    window->transferStatus(QStringLiteral("x"));
    window->rw_response(RWTarget::RW_SUCCESS);
    QCOMPARE(bar->value(), accepted ? progress : 33);
    button(*window, "fwClearConsoleButton")->click();
    QVERIFY(!bar->isTextVisible());
    QCOMPARE(bar->value(), 0);
    QVERIFY(consoleLines(*window).isEmpty());
    QCOMPARE(widget<QTextBrowser>(*window, "fwConsoleBrowser")->placeholderText(), QStringLiteral("Console..."));
}

void tst_FirmwareTab::flashButton_checksInOrder_data()
{
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<bool>("haveFile");
    QTest::addColumn<bool>("board");
    QTest::addColumn<QString>("message"); // empty: the flash starts

    QTest::newRow("port closed comes first") << false << false << false << "Connect COM port!";
    QTest::newRow("port closed, file and board") << false << true << true << "Connect COM port!";
    QTest::newRow("no file before no board") << true << false << false << "Specify .bin file!";
    QTest::newRow("no board") << true << true << false << "No board is connected!";
    QTest::newRow("all pass") << true << true << true << QString();
}

void tst_FirmwareTab::flashButton_checksInOrder()
{
    QFETCH(bool, portOpen);
    QFETCH(bool, haveFile);
    QFETCH(bool, board);
    QFETCH(QString, message);

    auto window = makeWindow();
    if (portOpen)
        window->connectCOMPortResponse(true);
    if (board)
        window->boardConnectedStatus(true);
    // The window does not look at the file again before flashing; any name passes.
    if (haveFile)
        window->setFirmwareFilePath(QStringLiteral("/nonexistent/image.bin"));

    RequestRecorder recorder(*window);
    QAbstractButton *flash = button(*window, "fwFlashFirmwareButton");
    flash->click();

    QTabWidget *tabWidget = tabs(*window);
    if (message.isEmpty()) {
        QCOMPARE(recorder.events, QStringList{"flash=/nonexistent/image.bin"});
        QCOMPARE(flash->text(), QStringLiteral("Cancel"));
        QVERIFY(flash->isEnabled());
        QVERIFY(!button(*window, "comPortConnectButton")->isEnabled());
        QVERIFY(tabWidget->isTabEnabled(0));
        QVERIFY(!tabWidget->isTabEnabled(1));
        QVERIFY(!tabWidget->isTabEnabled(2));
    } else {
        QCOMPARE(recorder.events, QStringList{});
        QCOMPARE(lastConsoleMessage(*window), message);
        QCOMPARE(flash->text(), QStringLiteral("Flash Firmware"));
        QVERIFY(tabWidget->isTabEnabled(1) && tabWidget->isTabEnabled(2));
    }
}

void tst_FirmwareTab::flashButton_cancelWhileFlashing()
{
    auto window = makeWindow();
    openPortWithBoard(*window);
    window->setFirmwareFilePath(QStringLiteral("/tmp/a.bin"));
    QAbstractButton *flash = button(*window, "fwFlashFirmwareButton");
    flash->click();

    RequestRecorder recorder(*window);
    flash->click();
    QCOMPARE(recorder.events, QStringList{"cancel"});
    QCOMPARE(flash->text(), QStringLiteral("Cancel"));
    QVERIFY(!flash->isEnabled());

    window->rw_response(RWTarget::RW_CANCELLED);
    QCOMPARE(lastConsoleMessage(*window), QStringLiteral("Flash process cancelled by user!"));
    QCOMPARE(flash->text(), QStringLiteral("Flash Firmware"));
    QVERIFY(flash->isEnabled());

    // Any other text does nothing.
    flash->setText(QStringLiteral("Flash"));
    flash->click();
    QCOMPARE(recorder.events, QStringList{"cancel"});
}

void tst_FirmwareTab::result_writesItsTextAndReturnsToIdle_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("0 success") << 0 << "Successfully flashed device.";
    QTest::newRow("1 write timeout") << 1 << "Write timeout occurred! Try again?";
    QTest::newRow("2 read timeout") << 2 << "Read timeout occurred! Try again?";
    QTest::newRow("3 invalid CRC") << 3 << "Invalid CRC! Try again?";
    QTest::newRow("4 invalid response") << 4 << "Invalid Response! Try again?";
    QTest::newRow("5 cancelled") << 5 << "Flash process cancelled by user!";
    QTest::newRow("6 file open failed") << 6 << "Unable to open bin file!";
    QTest::newRow("7 CRC check failed") << 7 << "Failed CRC check after flashing!";
    QTest::newRow("8 part number") << 8 << "Invalid Part Number!";
    QTest::newRow("9 hardware ID") << 9 << "Invalid Hardware ID!";
    QTest::newRow("10 no section") << 10 << "Select at least one section to flash!";
    QTest::newRow("11 unknown: stamp only") << 11 << "";
}

void tst_FirmwareTab::result_writesItsTextAndReturnsToIdle()
{
    QFETCH(int, code);
    QFETCH(QString, message);

    auto window = makeWindow();
    openPortWithBoard(*window);
    window->setFirmwareFilePath(QStringLiteral("/tmp/a.bin"));
    QAbstractButton *flash = button(*window, "fwFlashFirmwareButton");
    flash->click();
    flash->click(); // Cancelling: the button is disabled until the result
    QVERIFY(!flash->isEnabled());
    const int linesBefore = consoleLines(*window).size();

    window->rw_response(static_cast<RWTarget::RW_RESPONSE_T>(code));

    const QStringList lines = consoleLines(*window);
    QCOMPARE(lines.size(), linesBefore + 1);
    QCOMPARE(lastConsoleMessage(*window), message);
    if (message.isEmpty())
        QCOMPARE(lines.last().size(), QStringLiteral("[hh:mm:ss:zzz] ").size());
    QCOMPARE(flash->text(), QStringLiteral("Flash Firmware"));
    QVERIFY(flash->isEnabled());
    QVERIFY(button(*window, "comPortConnectButton")->isEnabled());
    QVERIFY(tabs(*window)->isTabEnabled(1));
    QVERIFY(tabs(*window)->isTabEnabled(2));
}

void tst_FirmwareTab::commandLine_infoFromAConnectedBoardStartsOneFlash_data()
{
    QTest::addColumn<bool>("commandLine");
    QTest::addColumn<bool>("board");
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QStringList>("events"); // "<path>" stands for the file's path

    QTest::newRow("command line and board: load, then flash")
        << true << true << true << QStringList{"app=1", "settings=1", "cal=1", "flash=<path>"};
    QTest::newRow("missing file offers nothing, still asks the worker")
        << true << true << false << QStringList{"app=0", "settings=0", "cal=0", "flash=<path>"};
    QTest::newRow("command line without a board") << true << false << true << QStringList{};
    QTest::newRow("board without command line") << false << true << true << QStringList{};
}

void tst_FirmwareTab::commandLine_infoFromAConnectedBoardStartsOneFlash()
{
    QFETCH(bool, commandLine);
    QFETCH(bool, board);
    QFETCH(bool, fileExists);
    QFETCH(QStringList, events);

    const QString path =
        fileExists ? writeImage(QStringLiteral("cli.bin"), fullImage()) : dir.filePath(QStringLiteral("absent.bin"));
    auto window = makeWindow();
    window->connectCOMPortResponse(true);
    if (board)
        window->boardConnectedStatus(true);
    if (commandLine)
        window->setCommandLineMode();
    window->setFirmwareFilePath(path);

    RequestRecorder recorder(*window);
    window->updateBlAppInfo(infoRecord(0x0100, 1, 0x0100, 77));

    events.replaceInStrings(QStringLiteral("<path>"), path);
    QCOMPARE(recorder.events, events);
    QCOMPARE(button(*window, "fwFlashFirmwareButton")->text(),
             events.isEmpty() ? QStringLiteral("Flash Firmware") : QStringLiteral("Cancel"));
}

void tst_FirmwareTab::commandLine_infoDuringTheFlashOnlyCancels()
{
    auto window = makeWindow();
    openPortWithBoard(*window);
    window->setCommandLineMode();
    window->setFirmwareFilePath(writeImage(QStringLiteral("cli2.bin"), fullImage()));
    window->updateBlAppInfo(infoRecord(0x0100, 1, 0x0100, 77));

    // The re-read after a successful flash arrives while the button still says "Cancel".
    RequestRecorder recorder(*window);
    window->updateBlAppInfo(infoRecord(0x0100, 1, 0x0200, 77));
    QCOMPARE(recorder.events, (QStringList{"app=1", "settings=1", "cal=1", "cancel"}));
    QVERIFY(!button(*window, "fwFlashFirmwareButton")->isEnabled());
}

void tst_FirmwareTab::commandLine_firstResultExitsWithItsCode()
{
    MessageLog log;
    auto window = makeWindow();
    window->setCommandLineMode();
    QSignalSpy disconnects(window.get(), &MainWindow::disconnectCOMPortRequest);

    QTimer::singleShot(0, window.get(), [&] { window->rw_response(RWTarget::RW_CRC_CHECK_FAILED); });
    QCOMPARE(QCoreApplication::exec(), 7);
    QCOMPARE(lastConsoleMessage(*window), QStringLiteral("Failed CRC check after flashing!"));
    // The port is let go at once, before any further poll could reach the board.
    QCOMPARE(disconnects.count(), 1);

    // A later result (a manual flash) no longer ends the program.
    QTimer::singleShot(0, window.get(), [&] {
        window->rw_response(RWTarget::RW_SUCCESS);
        QTimer::singleShot(0, [] { QCoreApplication::exit(99); });
    });
    QCOMPARE(QCoreApplication::exec(), 99);
    QCOMPARE(lastConsoleMessage(*window), QStringLiteral("Successfully flashed device."));
    QCOMPARE(disconnects.count(), 1);

    QStringList exits = log.messages(QtDebugMsg).filter(QStringLiteral("Exiting with response"));
    QCOMPARE(exits, QStringList{"Exiting with response 7"});
}

QTEST_MAIN(tst_FirmwareTab)
#include "tst_firmwaretab.moc"
