// Names the replace stage derives from a work list record.
#include "update/filespecifications.h"

#include <QTest>

class TestFileSpecifications : public QObject {
    Q_OBJECT

private slots:
    void destFileName_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("unzipName");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("expected");
        QTest::newRow("prefix in a sub-directory") << "lib/x.so"
                                                   << ""
                                                   << "_old_"
                                                   << "lib/_old_x.so";
        QTest::newRow("prefix at the top level") << "x.so"
                                                 << ""
                                                 << "_old_"
                                                 << "_old_x.so";
        QTest::newRow("prefix two levels down") << "a/b/c.txt"
                                                << ""
                                                << "_old_"
                                                << "a/b/_old_c.txt";
        QTest::newRow("no prefix keeps the path") << "lib/x.so"
                                                  << ""
                                                  << ""
                                                  << "lib/x.so";
        QTest::newRow("packed entry names the unpacked file") << "docs/readme.txt.gz"
                                                              << "docs/readme.txt"
                                                              << "_old_"
                                                              << "docs/_old_readme.txt";
        QTest::newRow("unpacked at the top level") << "readme.txt.gz"
                                                   << "readme.txt"
                                                   << ""
                                                   << "readme.txt";
    }

    void destFileName()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, unzipName);
        QFETCH(QString, prefix);
        QFETCH(QString, expected);
        FileReplaceSpecification spec;
        spec.fileName = fileName;
        spec.unzipName = unzipName;
        QCOMPARE(spec.hasUnzip(), !unzipName.isEmpty());
        QCOMPARE(spec.destFileName(prefix), expected);
    }

    void oldDestFileNameUsesTheOldPrefix()
    {
        FileReplaceSpecification spec;
        spec.fileName = QStringLiteral("lib/x.so");
        QCOMPARE(spec.oldDestFileName(), QStringLiteral("lib/_old_x.so"));
    }
};

QTEST_GUILESS_MAIN(TestFileSpecifications)
#include "tst_filespecifications.moc"
