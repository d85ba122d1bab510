// The Add popup's entry by address and by range, against simulated devices on loopback
// addresses: a range adds every device that answers and shows its progress; Cancel
// abandons the requests at once, and they stop; a range too large or malformed is
// refused with its message.
#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>

#include "layout/layout_texts.h"
#include "registry/camera_control.h"
#include "support/devsim_process.h"
#include "support/web_test_support.h"
#include "ui/message_dlg.h"

class AddressPopupTest : public QObject {
    Q_OBJECT
private:
    // A popup in device entry mode whose scans go to `control_`; the last scan is kept.
    std::unique_ptr<CMessageDlg> Popup() {
        auto popup =
            std::make_unique<CMessageDlg>(texts_, CMessageDlg::kAddDevice, 0, false, nullptr);
        popup->SetMessenger([this](const QString& text, bool) {
            messages_ << text;
            return true;
        });
        popup->SetAddressScanner([this](AddressScanRequest request) {
            lastScan_ = control_.StartAddressScan(std::move(request));
            return lastScan_;
        });
        return popup;
    }

    CLayoutTexts texts_{STRELVANE_DATA_DIR, 9};
    CCameraTable table_;
    CCameraControl control_{table_, nullptr};
    std::shared_ptr<CAddressScan> lastScan_;
    QStringList messages_;

private slots:
    void init() {
        ClearProxyEnvironment();
        messages_.clear();
    }

    void rangeAddsEveryDeviceThatAnswers() {
        const QString port = QString::number(ClosedPort());
        DevsimProcess sim(
            {"--device",
             "id=a,address=127.0.0.2,mac=00:1C:A1:00:03:02,http_port=" + port.toStdString(),
             "--device",
             "id=b,address=127.0.0.4,mac=00:1C:A1:00:03:04,http_port=" + port.toStdString()});
        auto popup = Popup();
        popup->SetAddress("127.0.0.1-6", port, "vqmtz");
        popup->Ok();
        QVERIFY(popup->Asking());
        QTRY_VERIFY_WITH_TIMEOUT(!popup->Asking(), 10000);
        QCOMPARE(popup->Result(), int64_t{0});
        QCOMPARE(popup->ScanProgressText(), QString("Asked 6 of 6 addresses, 2 devices found"));
        std::vector<std::string> keys = table_.Keys();  // in the order they answered
        std::sort(keys.begin(), keys.end());
        QCOMPARE(keys, (std::vector<std::string>{"00:1C:A1:00:03:02", "00:1C:A1:00:03:04"}));

        // Asked again, the devices are listed already: nothing new, and the popup says so.
        auto again = Popup();
        again->SetAddress("127.0.0.1-6:" + port, "80", "vqmtz");
        again->Ok();
        QTRY_VERIFY_WITH_TIMEOUT(!again->Asking(), 10000);
        QCOMPARE(again->Result(), int64_t{-1});
        QCOMPARE(messages_.takeLast(), QString("This MAC is used."));
        QCOMPARE(table_.Keys().size(), size_t{2});
    }

    void cancelAbandonsTheRequestsAndTheyStop() {
        const std::string port = std::to_string(ClosedPort());
        // Forty devices that take half a minute to answer.
        DevsimProcess sim({"--devices", "40",
                           "id=slow{n},address=127.0.1.{n},mac=00:1C:A1:00:04:{n+10},http_port=" +
                               port + ",https_port=-1,fault=delay:30000"});
        for (const QString& address : {QString("127.0.1.1-127.0.1.40"), QString("127.0.1.7")}) {
            auto popup = Popup();
            popup->show();
            popup->SetAddress(address, QString::fromStdString(port), "vqmtz");
            popup->Ok();
            QTest::qWait(500);
            QVERIFY(popup->Asking());
            const std::shared_ptr<CAddressScan> scan = lastScan_;
            QVERIFY(!scan->Now().Finished);
            QElapsedTimer closing;
            closing.start();
            popup->Cancel();
            QVERIFY(closing.elapsed() < 50);  // never waits for the requests
            QVERIFY(!popup->isVisible());
            QCOMPARE(popup->Result(), int64_t{-1});
            // The requests under way end within moments; no further address is asked.
            QTRY_VERIFY_WITH_TIMEOUT(scan->Now().Finished, 1000);
            QVERIFY(scan->Now().Asked < scan->Now().Total || scan->Now().Total == 1);
            QCOMPARE(scan->Now().Added, 0);
        }
        QVERIFY(messages_.isEmpty());
    }

    void rangesTooLargeOrMalformedAreRefused() {
        auto popup = Popup();
        const struct {
            QString Address;
            QString Message;
        } cases[] = {
            {"10.0.0.0/8", "The range is too large: at most 65536 addresses (a /16) can be asked."},
            {"10.0.0.60-10.0.0.10",
             "Please enter an IP address, a range such as 10.0.0.10-10.0.0.60 or a block such as "
             "10.0.0.0/24."},
        };
        for (const auto& c : cases) {
            popup->SetAddress(c.Address, "80", "vqmtz");
            popup->Ok();
            QVERIFY(!popup->Asking());
            QCOMPARE(messages_.takeLast(), c.Message);
        }
    }
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    QApplication app(argc, argv);
    AddressPopupTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "address_popup_test.moc"
