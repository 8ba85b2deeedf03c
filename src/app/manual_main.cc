// brindle-manual: turns the README (Markdown) into the HTML page that the
// desktop program's Help opens. Run by the build only.
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTextDocument>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: brindle-manual README.md README.html\n");
    return 2;
  }
  // Without a display: only the text layout is needed.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QFile in(QString::fromLocal8Bit(argv[1]));
  if (!in.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "brindle-manual: cannot read %s\n", argv[1]);
    return 1;
  }
  QTextDocument document;
  document.setMarkdown(QString::fromUtf8(in.readAll()));
  document.setMetaInformation(QTextDocument::DocumentTitle, "Brindle");
  // The page is read in a browser: its own font size, a readable width,
  // rather than the offscreen platform's font.
  QString html = document.toHtml();
  html.replace(QRegularExpression("<body style=\"[^\"]*\">"),
               "<body style=\"font-family: sans-serif; max-width: 50em; margin: 1em auto; padding: 0 1em;\">");
  QFile out(QString::fromLocal8Bit(argv[2]));
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(html.toUtf8()) < 0) {
    std::fprintf(stderr, "brindle-manual: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
