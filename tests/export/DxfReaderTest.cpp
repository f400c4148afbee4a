// Every kind of DXF file the writer makes is read back by an independent DXF
// reader (Python's ezdxf, strict loader plus audit), which must find no error.

#include "commands/SaveData.h"
#include "ExportFixture.h"
#include "support/OutsideProgram.h"

#include "drawing/Drawing.h"
#include "export/DxfWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>

namespace {

const char *const kPython = "/usr/bin/python3";

const char kReader[] = R"PY(
import json, sys
try:
    import ezdxf
except ImportError:
    print("NO-EZDXF")
    sys.exit(0)
result = {}
for path in sys.argv[1:]:
    r = {}
    try:
        doc = ezdxf.readfile(path)
    except Exception as e:
        r["error"] = type(e).__name__ + ": " + str(e)
    else:
        auditor = doc.audit()
        r["errors"] = ["%s %s" % (e.code, e.message) for e in auditor.errors]
        r["version"] = doc.dxfversion
        r["extmax"] = list(doc.header["$EXTMAX"])[:2]
        r["limmax"] = list(doc.header["$LIMMAX"])[:2]
        r["linetypes"] = {lt.dxf.name: lt.dxf.description for lt in doc.linetypes
                          if lt.dxf.name.startswith("SCAN")}
        r["lines"] = [[e.dxf.layer, e.dxf.linetype, e.dxf.color,
                       list(e.dxf.start)[:2], list(e.dxf.end)[:2]]
                      for e in doc.modelspace() if e.dxftype() == "LINE"]
        r["others"] = [e.dxftype() for e in doc.modelspace() if e.dxftype() != "LINE"]
        r["arcs"] = [[e.dxf.layer, e.dxf.linetype, e.dxf.color] + list(e.dxf.center)[:2] +
                     [e.dxf.radius, e.dxf.start_angle, e.dxf.end_angle]
                     for e in doc.modelspace() if e.dxftype() == "ARC"]
        r["circles"] = [[e.dxf.layer] + list(e.dxf.center)[:2] + [e.dxf.radius]
                        for e in doc.modelspace() if e.dxftype() == "CIRCLE"]
        r["layers"] = [[l.dxf.name, l.dxf.color, l.dxf.linetype] for l in doc.layers if l.dxf.name not in ("0", "Defpoints")]
        r["patterns"] = {lt.dxf.name: [lt.dxf.description] + [t.value for t in lt.pattern_tags.tags if t.code == 49]
                         for lt in doc.linetypes if not lt.dxf.name.startswith("SCAN")
                         and lt.dxf.name.upper() not in ("BYLAYER", "BYBLOCK", "CONTINUOUS")}
        r["entity_linetypes"] = [[e.dxftype(), e.dxf.linetype] for e in doc.modelspace()]
        r["fills"] = [[e.dxftype(), e.dxf.layer] + ([list(v.dxf.location)[:2] + [v.dxf.bulge] for v in e.vertices] +
                      [e.dxf.default_start_width, e.is_closed] if e.dxftype() == "POLYLINE" else
                      [list(e.dxf.get("vtx%d" % k))[:2] for k in range(4)])
                      for e in doc.modelspace() if e.dxftype() in ("POLYLINE", "SOLID")]
    result[path] = r
print(json.dumps(result))
)PY";

// Reads the files back into `results`; returns from the test (failing under
// CI) where ezdxf cannot run.
#define READ_BACK_OR_RETURN(results, paths)                                                        \
    QString results##Skip;                                                                         \
    const QJsonObject results = ReadBack(paths, results##Skip);                                    \
    if (!results##Skip.isEmpty())                                                                  \
        TRAZBIT_OUTSIDE_PROGRAM_MISSING(results##Skip.toStdString())

class DxfReader : public TExportFixture
{
protected:
    static void ExpectPoint(const QJsonValue &value, double x, double y)
    {
        const QJsonArray point = value.toArray();
        ASSERT_EQ(point.size(), 2);
        EXPECT_NEAR(point[0].toDouble(), x, 1e-6);
        EXPECT_NEAR(point[1].toDouble(), y, 1e-6);
    }

    // Writes `drawing`, its segments at magnification 0.5 beside it and its
    // extents as the list's, as NAME.dxf; returns the path.
    QString SaveDrawing(const TDrawing &drawing, const QString &name)
    {
        MaxX = drawing.MaxX;
        MaxY = drawing.MaxY;
        Segments.clear();
        for (const TDrawingEntity &e : drawing.Entities)
            AppendSegments(e, 0.5, Segments);
        TExportContext context = Context();
        context.Drawing = &drawing;
        EXPECT_EQ(SaveData2(context, UI, Path(name + ".dxf")), 0) << name.toStdString();
        return Path(name + ".dxf");
    }

    static QByteArray ShippedHeader()
    {
        QFile shipped(QStringLiteral(TRAZBIT_SOURCE_DIR "/data/dxf.hed"));
        return shipped.open(QIODevice::ReadOnly) ? shipped.readAll() : QByteArray();
    }

    // The reader's verdict on each file, by path; empty (and the test skipped)
    // where ezdxf cannot run.
    QJsonObject ReadBack(const QStringList &paths, QString &skipReason)
    {
        if (!QFile::exists(QString::fromLatin1(kPython))) {
            skipReason = QStringLiteral("no /usr/bin/python3 to run ezdxf");
            return {};
        }
        Write("reader.py", kReader);
        QProcess python;
        python.start(QString::fromLatin1(kPython), QStringList{Path("reader.py")} + paths);
        if (!python.waitForFinished(120000)) {
            skipReason = QStringLiteral("/usr/bin/python3 could not be run");
            return {};
        }
        const QByteArray out = python.readAllStandardOutput().trimmed();
        if (out == "NO-EZDXF") {
            skipReason = QStringLiteral("python3-ezdxf is not installed (scripts/setup installs it)");
            return {};
        }
        EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
        return QJsonDocument::fromJson(out).object();
    }
};

TEST_F(DxfReader, EveryVariantReadsWithoutErrors)
{
    Write("dxf.hed", ShippedHeader());
    Segments = {{0, 0, 10, 5}, {12.4f, 7.75f, 3, 100}};
    MaxX = 12.4f;
    MaxY = 100;
    Magnification = 0.5f;
    Settings.Yrate = 1.25f;

    struct TVariant
    {
        QString Name;
        bool HeaderFile;
        int LineType;
        int Mode;
        QString Layer;
        int Segments;
    };
    const std::vector<TVariant> variants = {
        {"builtin-solid-real", false, 1, 2, "Scan Data", 2},
        {"builtin-dotted-integer", false, 2, 1, "Scan Data", 2},
        {"builtin-solid-fixed", false, 1, 3, QStringLiteral("図面"), 2},
        {"builtin-dotted-fixed0", false, 2, 3, "0", 2},
        {"builtin-empty", false, 1, 2, "Scan Data", 0},
        {"file-solid-real", true, 1, 2, "Scan Data", 2},
        {"file-dotted-integer", true, 2, 1, "Scan Data", 2},
        {"file-solid-fixed", true, 1, 3, QStringLiteral("図面"), 2},
    };
    QStringList paths;
    const std::vector<TSegment> all = Segments;
    for (const TVariant &v : variants) {
        Settings.DxfFileUse = v.HeaderFile;
        Settings.DxfLineType = v.LineType;
        Settings.DxfValueMode = v.Mode;
        Settings.DxfValueFigure = v.Name.endsWith("fixed0") ? 0 : 3;
        Settings.DxfSaveLayer = v.Layer;
        Segments.assign(all.begin(), all.begin() + v.Segments);
        ASSERT_EQ(SaveData2(Context(), UI, Path(v.Name + ".dxf")), 0) << v.Name.toStdString();
        paths << Path(v.Name + ".dxf");
    }

    READ_BACK_OR_RETURN(results, paths);
    for (std::size_t i = 0; i < variants.size(); ++i) {
        const TVariant &v = variants[i];
        const QJsonObject r = results.value(paths[static_cast<qsizetype>(i)]).toObject();
        SCOPED_TRACE(v.Name.toStdString() + ": " + QJsonDocument(r).toJson(QJsonDocument::Compact).toStdString());
        ASSERT_FALSE(r.isEmpty());
        ASSERT_FALSE(r.contains("error"));
        EXPECT_EQ(r.value("errors").toArray(), QJsonArray());
        EXPECT_EQ(r.value("version").toString(), "AC1009");
        ExpectPoint(r.value("extmax"), 6.2, 62.5);
        ExpectPoint(r.value("limmax"), 6.2, 62.5);
        const QJsonObject types = r.value("linetypes").toObject();
        EXPECT_EQ(types.value("SCANLINE").toString(), QStringLiteral("実線"));
        EXPECT_EQ(types.value("SCANDOT").toString(), QStringLiteral("点線"));
        EXPECT_EQ(r.value("others").toArray(), QJsonArray());
        const QJsonArray lines = r.value("lines").toArray();
        ASSERT_EQ(lines.size(), v.Segments);
        // (0,0)-(10,5) and (12.4,7.75)-(3,100) at magnification 0.5 and Yrate 1.25,
        // as each number mode prints them.
        const double points[4][2][4] = {
            {{0, 0, 5, 3.125}, {6.2, 4.84375, 1.5, 62.5}},    // real
            {{0, 0, 5, 3}, {6, 4, 1, 62}},                    // integer
            {{0, 0, 5, 3.125}, {6.2, 4.844, 1.5, 62.5}},      // 3 decimals
            {{0, 0, 5, 3}, {6, 5, 2, 63}},                    // 0 decimals
        };
        const int form = v.Mode == 2 ? 0 : v.Mode == 1 ? 1 : v.Name.endsWith("fixed0") ? 3 : 2;
        for (int n = 0; n < lines.size(); ++n) {
            const QJsonArray line = lines[n].toArray();
            EXPECT_EQ(line[0].toString(), v.Layer);
            EXPECT_EQ(line[1].toString(), v.LineType == 1 ? "SCANLINE" : "SCANDOT");
            EXPECT_EQ(line[2].toInt(), 1);
            const double *p = points[form][n];
            ExpectPoint(line[3], p[0], p[1]);
            ExpectPoint(line[4], p[2], p[3]);
        }
    }
}

TEST_F(DxfReader, DrawingsWithArcsAndCirclesReadWithoutErrors)
{
    TDrawing drawing;
    drawing.Entities = {TDrawingEntity::MakeLine(0, 0, 10, 5), TDrawingEntity::MakeArc(20, 20, 10, 0, 90),
                        TDrawingEntity::MakeCircle(50, 40, 5)};
    drawing.MaxX = 55;
    drawing.MaxY = 45;
    Magnification = 0.5f;
    Settings.DxfValueMode = 2;
    Settings.DxfPenColor = 3;
    struct TVariant
    {
        QString Name;
        float Xrate, Yrate;
        // Expected: arc centre, radius, start and end; or no arc (chords).
        bool Arcs;
        double Cx, Cy, R, Start, End;
    };
    const TVariant variants[] = {
        {"plain", 1, 1, true, 10, 10, 5, 0, 90},
        {"mirrored", -1, 1, true, -10, 10, 5, 90, 180},
        {"both-mirrored", -1, -1, true, -10, -10, 5, 180, 270},
        {"stretched", 1, 2, false, 0, 0, 0, 0, 0},
        {"header-file", 1, 1, true, 10, 10, 5, 0, 90},
    };
    Write("dxf.hed", ShippedHeader());
    QStringList paths;
    for (const TVariant &v : variants) {
        Settings.Xrate = v.Xrate;
        Settings.Yrate = v.Yrate;
        Settings.DxfFileUse = v.Name == "header-file";
        paths << SaveDrawing(drawing, v.Name);
    }
    READ_BACK_OR_RETURN(results, paths);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const TVariant &v = variants[i];
        const QJsonObject r = results.value(paths[i]).toObject();
        SCOPED_TRACE(v.Name.toStdString() + ": " + QJsonDocument(r).toJson(QJsonDocument::Compact).toStdString());
        ASSERT_FALSE(r.contains("error"));
        EXPECT_EQ(r.value("errors").toArray(), QJsonArray());
        EXPECT_EQ(r.value("layers").toArray(), QJsonArray({QJsonArray({"Scan Data", 3, "SCANLINE"})}));
        const QJsonArray arcs = r.value("arcs").toArray(), circles = r.value("circles").toArray();
        if (!v.Arcs) {
            EXPECT_TRUE(arcs.isEmpty());
            EXPECT_TRUE(circles.isEmpty());
            EXPECT_GT(r.value("lines").toArray().size(), 10);
            continue;
        }
        ASSERT_EQ(arcs.size(), 1);
        ASSERT_EQ(circles.size(), 1);
        EXPECT_EQ(r.value("lines").toArray().size(), 1);
        const QJsonArray arc = arcs[0].toArray();
        EXPECT_EQ(arc[0].toString(), "Scan Data");
        EXPECT_EQ(arc[1].toString(), "SCANLINE");
        EXPECT_EQ(arc[2].toInt(), 3);
        const double expected[] = {v.Cx, v.Cy, v.R, v.Start, v.End};
        for (int k = 0; k < 5; ++k)
            EXPECT_NEAR(arc[3 + k].toDouble(), expected[k], 1e-4) << k;
        const QJsonArray circle = circles[0].toArray();
        EXPECT_NEAR(circle[1].toDouble(), 25 * v.Xrate, 1e-4);
        EXPECT_NEAR(circle[2].toDouble(), 20 * v.Yrate, 1e-4);
        EXPECT_NEAR(circle[3].toDouble(), 2.5, 1e-4);
    }
}

TEST_F(DxfReader, LineTypesAreDefinedOnceAndNamedByTheirEntities)
{
    // A dash-dot line, a dashed circle and a plain arc, pixel units.
    TDrawing drawing;
    drawing.Entities = {TDrawingEntity::MakeLine(0, 0, 100, 0), TDrawingEntity::MakeCircle(50, 40, 20),
                        TDrawingEntity::MakeArc(20, 20, 10, 0, 90)};
    drawing.Entities[0].LineType = drawing.AddLineType("CENTER", QStringLiteral("一点鎖線"), {30, -8, 0, -8});
    drawing.Entities[1].LineType = drawing.AddLineType("DASHED", QStringLiteral("破線"), {12, -4});
    drawing.MaxX = 100;
    drawing.MaxY = 60;
    Magnification = 0.5f;
    const QByteArray shipped = ShippedHeader();
    // A header whose LTYPE table already has a DASHED: ours becomes DASHED_2.
    QByteArray own = shipped;
    own.replace("  0\r\nENDTAB", "  0\r\nLTYPE\r\n  2\r\nDASHED\r\n 70\r\n    64\r\n  3\r\nmine\r\n 72\r\n    65\r\n"
                                 " 73\r\n     2\r\n 40\r\n20.0\r\n 49\r\n10\r\n 49\r\n-10\r\n  0\r\nENDTAB");
    own.replace(" 70\r\n     2\r\n  0\r\nLTYPE", " 70\r\n     3\r\n  0\r\nLTYPE");
    struct TVariant
    {
        QString Name;
        QByteArray Header;   // empty: the built-in one
        const char *Dashed;
    };
    const TVariant variants[] = {{"builtin", {}, "DASHED"}, {"shipped", shipped, "DASHED"}, {"own", own, "DASHED_2"}};
    QStringList paths;
    for (const TVariant &v : variants) {
        Settings.DxfFileUse = !v.Header.isEmpty();
        if (!v.Header.isEmpty())
            Write("dxf.hed", v.Header);
        paths << SaveDrawing(drawing, v.Name);
    }
    READ_BACK_OR_RETURN(results, paths);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const TVariant &v = variants[i];
        const QJsonObject r = results.value(paths[i]).toObject();
        SCOPED_TRACE(v.Name.toStdString() + ": " + QJsonDocument(r).toJson(QJsonDocument::Compact).toStdString());
        ASSERT_FALSE(r.contains("error"));
        EXPECT_EQ(r.value("errors").toArray(), QJsonArray());
        // Lengths at magnification 0.5; the dot is 0.
        QJsonObject patterns{{"CENTER", QJsonArray({QStringLiteral("一点鎖線"), 15, -4, 0, -4})},
                             {v.Dashed, QJsonArray({QStringLiteral("破線"), 6, -2})}};
        if (v.Name == "own")
            patterns.insert("DASHED", QJsonArray({"mine", 10, -10}));
        EXPECT_EQ(r.value("patterns").toObject(), patterns);
        EXPECT_EQ(r.value("entity_linetypes").toArray(),
                  QJsonArray({QJsonArray({"LINE", "CENTER"}), QJsonArray({"CIRCLE", v.Dashed}),
                              QJsonArray({"ARC", "SCANLINE"})}));
    }

    // LibreCAD prints each file: a page with ink on it (rendered again by Ghostscript).
    if (QStandardPaths::findExecutable(QStringLiteral("librecad")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("gs")).isEmpty())
        TRAZBIT_OUTSIDE_PROGRAM_MISSING("librecad or gs is not installed (scripts/setup installs them)");
    for (const QString &path : paths) {
        SCOPED_TRACE(path.toStdString());
        // It prints X.dxf to X.pdf beside it.
        const QString pdf = path.chopped(4) + ".pdf", pgm = path + ".pgm";
        QProcess librecad;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        librecad.setProcessEnvironment(environment);
        librecad.start(QStringLiteral("librecad"), {QStringLiteral("dxf2pdf"), QStringLiteral("-a"), QStringLiteral("-m"), path});
        ASSERT_TRUE(librecad.waitForFinished(120000));
        ASSERT_EQ(librecad.exitCode(), 0) << librecad.readAllStandardError().toStdString();
        QProcess gs;
        gs.start(QStringLiteral("gs"), {QStringLiteral("-q"), QStringLiteral("-dNOPAUSE"), QStringLiteral("-dBATCH"),
                                        QStringLiteral("-dSAFER"), QStringLiteral("-sDEVICE=pgmraw"), QStringLiteral("-r30"),
                                        QStringLiteral("-sOutputFile=") + pgm, pdf});
        ASSERT_TRUE(gs.waitForFinished(120000));
        ASSERT_EQ(gs.exitCode(), 0) << gs.readAllStandardError().toStdString();
        QFile page(pgm);
        ASSERT_TRUE(page.open(QIODevice::ReadOnly));
        const QByteArray bytes = page.readAll();
        // After the header, one byte per pixel; the dashes and the arc leave dark pixels.
        const qsizetype dark = std::count_if(bytes.begin() + std::min<qsizetype>(bytes.size(), 20), bytes.end(),
                                             [](char c) { return static_cast<unsigned char>(c) < 128; });
        EXPECT_GT(dark, 20);
    }
}

// Width layers and fills: each width class on a layer of its own named for
// its width in drawing units, coloured by layer; a dot as a wide closed
// polyline, other fills as SOLIDs on the fill layer. LibreCAD renders it.
TEST_F(DxfReader, WidthLayersAndFillsReadWithoutErrorsAndRender)
{
    TDrawing drawing;
    drawing.Entities = {TDrawingEntity::MakeLine(0, 0, 100, 0), TDrawingEntity::MakeLine(0, 20, 100, 20),
                        TDrawingEntity::MakeArc(50, 50, 20, 0, 90)};
    drawing.Entities[0].Width = 2;
    drawing.Entities[1].Width = 6;
    drawing.Entities[2].Width = 6;
    drawing.WidthLayers = true;
    TDrawingFill dot;
    dot.Dot = true;
    dot.X = 100;
    dot.Y = 20;
    dot.R = 8;
    TDrawingFill solid;
    solid.Solids = {{10, 80, 50, 80, 10, 60, 50, 60}};
    drawing.Fills = {dot, solid};
    drawing.MaxX = 110;
    drawing.MaxY = 80;
    Magnification = 0.5f;
    Settings.DxfValueMode = 2;
    Settings.DxfSaveLayer = QStringLiteral("図面");
    SaveDrawing(drawing, QStringLiteral("styles"));

    READ_BACK_OR_RETURN(results, {Path("styles.dxf")});
    const QJsonObject r = results.value(Path("styles.dxf")).toObject();
    SCOPED_TRACE(QJsonDocument(r).toJson(QJsonDocument::Compact).toStdString());
    ASSERT_FALSE(r.contains("error"));
    EXPECT_EQ(r.value("errors").toArray(), QJsonArray());
    EXPECT_EQ(r.value("layers").toArray(), QJsonArray({QJsonArray({QStringLiteral("線幅1.00"), 1, "SCANLINE"}),
                                                       QJsonArray({QStringLiteral("線幅3.00"), 5, "SCANLINE"}),
                                                       QJsonArray({QStringLiteral("塗り"), 8, "SCANLINE"})}));
    const QJsonArray lines = r.value("lines").toArray();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].toArray()[0].toString(), QStringLiteral("線幅1.00"));
    EXPECT_EQ(lines[1].toArray()[0].toString(), QStringLiteral("線幅3.00"));
    EXPECT_EQ(lines[0].toArray()[2].toInt(), 256);
    EXPECT_EQ(r.value("arcs").toArray()[0].toArray()[0].toString(), QStringLiteral("線幅3.00"));
    const QJsonArray fills = r.value("fills").toArray();
    ASSERT_EQ(fills.size(), 2);
    // The dot: two half circles about (50, 10) of radius 2 and width 4.
    EXPECT_EQ(QJsonDocument(fills[0].toArray()).toJson(QJsonDocument::Compact),
              QJsonDocument(QJsonArray({"POLYLINE", QStringLiteral("塗り"), QJsonArray({48, 10, 1}),
                                        QJsonArray({52, 10, 1}), 4, true}))
                  .toJson(QJsonDocument::Compact));
    EXPECT_EQ(QJsonDocument(fills[1].toArray()).toJson(QJsonDocument::Compact),
              QJsonDocument(QJsonArray({"SOLID", QStringLiteral("塗り"), QJsonArray({5, 40}), QJsonArray({25, 40}),
                                        QJsonArray({5, 30}), QJsonArray({25, 30})}))
                  .toJson(QJsonDocument::Compact));

    // LibreCAD prints it to a PDF page.
    if (!QFile::exists(QStringLiteral("/usr/bin/librecad")))
        TRAZBIT_OUTSIDE_PROGRAM_MISSING("librecad is not installed (scripts/setup installs it)");
    QProcess librecad;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    librecad.setProcessEnvironment(env);
    librecad.start(QStringLiteral("/usr/bin/librecad"),
                   {QStringLiteral("dxf2pdf"), QStringLiteral("-a"), QStringLiteral("-o"), Path("styles.pdf"),
                    Path("styles.dxf")});
    ASSERT_TRUE(librecad.waitForFinished(120000));
    QFile pdf(Path("styles.pdf"));
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly)) << librecad.readAllStandardError().toStdString();
    const QByteArray bytes = pdf.readAll();
    EXPECT_TRUE(bytes.startsWith("%PDF"));
    EXPECT_TRUE(bytes.contains("/Type /Page") || bytes.contains("/Type/Page"));
}

} // namespace
