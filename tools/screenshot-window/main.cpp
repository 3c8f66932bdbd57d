// Shows the main window on a store folder, clicks "2.檔案列表" with a rule table that does
// nothing, and saves a picture of the window as the hand-off stage is about to close it: the
// client area inside a plain frame with the caption drawn in, at the outer design size.
//
//   tarnwick-screenshot STORE OUT.png

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QToolButton>

#include <iostream>

#include "app/FormTarnwick.h"
#include "import/RuleTable.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: tarnwick-screenshot STORE OUT.png\n";
        return 64;
    }
    QApplication application(argc, argv);
    const std::string store = argv[1];
    const QString out = QString::fromLocal8Bit(argv[2]);
    const tarnwick::import::TRuleTable rules;  // no rule: every row is taken up and passed over
    tarnwick::app::TFormTarnwick form(rules, store.back() == '/' ? store : store + "/", "Tarnwick");
    form.PresentBox = [](auto, const QString& caption, const QString& text) {
        std::cerr << caption.toStdString() << ": " << text.toStdString() << '\n';
    };
    bool saved = false;
    form.BeforeClose = [&] {
        const QPixmap client = form.grab();
        constexpr int kBorder = 4, kTitle = 23;
        QImage picture(client.width() + 2 * kBorder, client.height() + kTitle + kBorder, QImage::Format_RGB32);
        picture.fill(QColor(212, 208, 200));
        QPainter painter(&picture);
        painter.fillRect(kBorder - 1, kBorder - 1, picture.width() - 2 * kBorder + 2, kTitle - kBorder,
                         QColor(10, 36, 106));
        QFont captionFont = painter.font();
        captionFont.setBold(true);
        captionFont.setPixelSize(12);
        painter.setFont(captionFont);
        painter.setPen(Qt::white);
        painter.drawText(QRect(kBorder + 4, kBorder - 1, picture.width(), kTitle - kBorder),
                         Qt::AlignVCenter | Qt::AlignLeft, form.windowTitle());
        painter.drawPixmap(kBorder, kTitle, client);
        painter.end();
        saved = picture.save(out, "PNG");
    };
    form.show();
    QApplication::processEvents();
    form.SpeedButton4->click();
    if (!saved) {
        std::cerr << "tarnwick-screenshot: the chain did not reach the hand-off stage\n";
        return 1;
    }
    std::cout << "tarnwick-screenshot: saved " << out.toStdString() << '\n';
    return 0;
}
