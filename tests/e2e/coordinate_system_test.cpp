// Coordinate systems: the layer's .prj decides whether vertices are
// converted to WGS 84, and how; what cannot be read or converted is said.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "expected.h"
#include "layer_writer.h"
#include "program_run.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// The systems in the ESRI dialect most .prj files carry (as PROJ writes
// them for the EPSG codes named).
const char* const kWgs84Esri =
    "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],"
    "PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";
const char* const kUtm33Esri =  // EPSG:32633
    "PROJCS[\"WGS_1984_UTM_Zone_33N\",GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID["
    "\"WGS_1984\",6378137.0,298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\","
    "0.0174532925199433]],PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",500000.0],"
    "PARAMETER[\"False_Northing\",0.0],PARAMETER[\"Central_Meridian\",15.0],PARAMETER["
    "\"Scale_Factor\",0.9996],PARAMETER[\"Latitude_Of_Origin\",0.0],UNIT[\"Meter\",1.0]]";
const char* const kPolandCs92Esri =  // EPSG:2180
    "PROJCS[\"ETRS_1989_Poland_CS92\",GEOGCS[\"GCS_ETRS_1989\",DATUM[\"D_ETRS_1989\",SPHEROID["
    "\"GRS_1980\",6378137.0,298.257222101]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\","
    "0.0174532925199433]],PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",500000.0],"
    "PARAMETER[\"False_Northing\",-5300000.0],PARAMETER[\"Central_Meridian\",19.0],PARAMETER["
    "\"Scale_Factor\",0.9993],PARAMETER[\"Latitude_Of_Origin\",0.0],UNIT[\"Meter\",1.0]]";
const char* const kKrovakEastNorthEsri =  // EPSG:5514
    "PROJCS[\"S-JTSK_Krovak_East_North\",GEOGCS[\"GCS_S_JTSK\",DATUM[\"D_S_JTSK\",SPHEROID["
    "\"Bessel_1841\",6377397.155,299.1528128]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\","
    "0.0174532925199433]],PROJECTION[\"Krovak\"],PARAMETER[\"False_Easting\",0.0],PARAMETER["
    "\"False_Northing\",0.0],PARAMETER[\"Pseudo_Standard_Parallel_1\",78.5],PARAMETER["
    "\"Scale_Factor\",0.9999],PARAMETER[\"Azimuth\",30.28813975277778],PARAMETER["
    "\"Longitude_Of_Center\",24.83333333333333],PARAMETER[\"Latitude_Of_Center\",49.5],PARAMETER["
    "\"X_Scale\",-1.0],PARAMETER[\"Y_Scale\",1.0],PARAMETER[\"XY_Plane_Rotation\",90.0],UNIT["
    "\"Meter\",1.0]]";
const char* const kNad27Esri =  // EPSG:4267
    "GEOGCS[\"GCS_North_American_1927\",DATUM[\"D_North_American_1927\",SPHEROID[\"Clarke_1866\","
    "6378206.4,294.978698213898]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";
const char* const kNad27Utm18Esri =  // EPSG:26718
    "PROJCS[\"NAD_1927_UTM_Zone_18N\",GEOGCS[\"GCS_North_American_1927\",DATUM["
    "\"D_North_American_1927\",SPHEROID[\"Clarke_1866\",6378206.4,294.978698213898]],PRIMEM["
    "\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]],PROJECTION[\"Transverse_Mercator\"],"
    "PARAMETER[\"False_Easting\",500000.0],PARAMETER[\"False_Northing\",0.0],PARAMETER["
    "\"Central_Meridian\",-75.0],PARAMETER[\"Scale_Factor\",0.9996],PARAMETER["
    "\"Latitude_Of_Origin\",0.0],UNIT[\"Meter\",1.0]]";
const char* const kDhdnGaussKruger4Esri =  // EPSG:31468
    "PROJCS[\"DHDN_3_Degree_Gauss_Zone_4\",GEOGCS[\"GCS_Deutsches_Hauptdreiecksnetz\",DATUM["
    "\"D_Deutsches_Hauptdreiecksnetz\",SPHEROID[\"Bessel_1841\",6377397.155,299.1528128]],PRIMEM["
    "\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]],PROJECTION[\"Gauss_Kruger\"],"
    "PARAMETER[\"False_Easting\",4500000.0],PARAMETER[\"False_Northing\",0.0],PARAMETER["
    "\"Central_Meridian\",12.0],PARAMETER[\"Scale_Factor\",1.0],PARAMETER[\"Latitude_Of_Origin\",0.0],"
    "UNIT[\"Meter\",1.0]]";
const char* const kEd50Esri =  // EPSG:4230
    "GEOGCS[\"GCS_European_1950\",DATUM[\"D_European_1950\",SPHEROID[\"International_1924\","
    "6378388.0,297.0]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";
const char* const kLv95Esri =  // EPSG:2056
    "PROJCS[\"CH1903+_LV95\",GEOGCS[\"GCS_CH1903+\",DATUM[\"D_CH1903+\",SPHEROID[\"Bessel_1841\","
    "6377397.155,299.1528128]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]],"
    "PROJECTION[\"Hotine_Oblique_Mercator_Azimuth_Center\"],PARAMETER[\"False_Easting\",2600000.0],"
    "PARAMETER[\"False_Northing\",1200000.0],PARAMETER[\"Scale_Factor\",1.0],PARAMETER[\"Azimuth\","
    "90.0],PARAMETER[\"Longitude_Of_Center\",7.43958333333333],PARAMETER[\"Latitude_Of_Center\","
    "46.9524055555556],UNIT[\"Meter\",1.0]]";
// A datum PROJ knows no shift for.
const char* const kUnknownDatum =
    "GEOGCS[\"GCS_Local\",DATUM[\"D_Local\",SPHEROID[\"Bessel_1841\",6377397.155,299.1528128]],"
    "PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";

// GDA94 / Australian Albers (EPSG:3577) as projinfo writes it in WKT2,
// with the given bounding box of its area of use (south, west, north,
// east, as WKT2 orders them; EPSG's is -43.7,112.85,-9.86,153.69).
std::string albersWithArea(const std::string& bbox) {
    return "PROJCRS[\"GDA94 / Australian Albers\",BASEGEOGCRS[\"GDA94\",DATUM[\"Geocentric Datum of "
           "Australia 1994\",ELLIPSOID[\"GRS 1980\",6378137,298.257222101,LENGTHUNIT[\"metre\",1]]],PRIMEM["
           "\"Greenwich\",0,ANGLEUNIT[\"degree\",0.0174532925199433]],ID[\"EPSG\",4283]],CONVERSION["
           "\"Australian Albers\",METHOD[\"Albers Equal Area\",ID[\"EPSG\",9822]],PARAMETER[\"Latitude of "
           "false origin\",0,ANGLEUNIT[\"degree\",0.0174532925199433],ID[\"EPSG\",8821]],PARAMETER["
           "\"Longitude of false origin\",132,ANGLEUNIT[\"degree\",0.0174532925199433],ID[\"EPSG\",8822]],"
           "PARAMETER[\"Latitude of 1st standard parallel\",-18,ANGLEUNIT[\"degree\",0.0174532925199433],"
           "ID[\"EPSG\",8823]],PARAMETER[\"Latitude of 2nd standard parallel\",-36,ANGLEUNIT[\"degree\","
           "0.0174532925199433],ID[\"EPSG\",8824]],PARAMETER[\"Easting at false origin\",0,LENGTHUNIT["
           "\"metre\",1],ID[\"EPSG\",8826]],PARAMETER[\"Northing at false origin\",0,LENGTHUNIT[\"metre\","
           "1],ID[\"EPSG\",8827]]],CS[Cartesian,2],AXIS[\"(E)\",east,ORDER[1],LENGTHUNIT[\"metre\",1]],"
           "AXIS[\"(N)\",north,ORDER[2],LENGTHUNIT[\"metre\",1]],USAGE[SCOPE[\"Statistical analysis.\"],"
           "AREA[\"Australia - Australian Capital Territory; New South Wales; Northern Territory; "
           "Queensland; South Australia; Tasmania; Western Australia; Victoria.\"],BBOX[" +
           bbox + "]],ID[\"EPSG\",3577]]";
}

struct Conversion {
    RunResult run;
    std::string file;
};

// Writes a polyline layer of one record per vertex list (column TYPE) with
// the given .prj (none when there is no text) and converts it.
Conversion convertLines(const std::string& name,
                        const std::vector<std::vector<std::pair<double, double>>>& lines,
                        const std::optional<std::string>& prj, const std::string& prjName = "layer.prj",
                        const std::string& layerArgument = "layer.shp") {
    const fs::path dir = scratchFolder("Coordinates." + name);
    Layer layer;
    layer.shapeType = SHPT_ARC;
    layer.fields = {{"TYPE", FTString, 8, 0}};
    for (const auto& line : lines) {
        layer.shapes.push_back(multiPart(SHPT_ARC, {line}));
        layer.records.push_back({"1"});
    }
    writeLayer(dir / "layer", layer);
    if (prj) writeFile(dir / prjName, *prj);
    Conversion conversion;
    conversion.run = runProgram(dir, {layerArgument, "TYPE", "TYPE"});
    conversion.file = readFile(dir / (layerArgument + ".mp"));
    return conversion;
}

// The (latitude, longitude) pairs of every Data0= line, in order.
std::vector<std::pair<double, double>> writtenPairs(const std::string& file) {
    std::vector<std::pair<double, double>> pairs;
    std::size_t at = 0;
    while ((at = file.find("Data0=", at)) != std::string::npos) {
        at += 6;
        const std::size_t end = file.find('\r', at);
        std::string line = file.substr(at, end - at);
        for (std::size_t open = line.find('('); open != std::string::npos; open = line.find('(', open + 1)) {
            double lat = 0;
            double lon = 0;
            if (std::sscanf(line.c_str() + open, "(%lf,%lf)", &lat, &lon) == 2) pairs.emplace_back(lat, lon);
        }
    }
    return pairs;
}

// PROJ's own command-line tool, given the same system, WGS 84 as EPSG:4326
// (as ogr2ogr -t_srs EPSG:4326 names it: the operations PROJ offers depend
// on the authority) and no area of interest, so that it chooses the
// operation for each vertex among all it has: longitude and latitude of
// each vertex, with 12 decimals.
std::vector<std::pair<double, double>> cs2csLonLat(const std::string& sourceWkt,
                                                    const std::vector<std::pair<double, double>>& xy) {
    const fs::path dir = scratchFolder("Coordinates.cs2cs");
    writeFile(dir / "source.wkt", sourceWkt);
    std::string input;
    char number[64];
    for (const auto& [x, y] : xy) {
        std::snprintf(number, sizeof number, "%.17g %.17g\n", x, y);
        input += number;
    }
    writeFile(dir / "input.txt", input);
    const std::string command = "cd '" + dir.string() +
                                "' && cs2cs -f %.12f \"$(cat source.wkt)\" EPSG:4326 < input.txt 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::vector<std::pair<double, double>> lonLat;
    if (!pipe) return lonLat;
    char line[512];
    while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
        double lon = 0;
        double lat = 0;
        // EPSG:4326 is latitude first.
        if (std::sscanf(line, "%lf %lf", &lat, &lon) == 2) lonLat.emplace_back(lon, lat);
    }
    return lonLat;
}

std::string programStdout(const std::string& coordinateMessages, const std::string& progressText,
                          const std::string& afterLoop = "") {
    return convertedRun("layer.shp", "Polyline", progressText, afterLoop,
                        std::string(kNoDictionary) + coordinateMessages);
}

TEST(Coordinates, ProjectedAndOtherDatumLayersMatchProjsOwnTool) {
    // Each vertex is converted by the operation PROJ picks for it among
    // all candidates, as cs2cs (and ogr2ogr) do; the layers that cross the
    // areas of several datum shifts are where one operation for the whole
    // layer put vertices metres away.
    const struct {
        const char* name;
        std::string prj;
        const char* crsName;
        std::vector<std::pair<double, double>> vertices;
    } cases[] = {
        {"Utm33", kUtm33Esri, "WGS 84 / UTM zone 33N",
         {{389000.5, 5819000.25}, {391234.125, 5820111.5}, {612345.75, 5421000.0}}},
        {"PolandCs92", kPolandCs92Esri, "ETRF2000-PL / CS92",
         {{637000.0, 486000.0}, {638500.5, 487250.25}, {210000.0, 650000.0}}},
        {"KrovakEastNorth", kKrovakEastNorthEsri, "S-JTSK / Krovak East North",
         {{-743000.0, -1043000.0}, {-742500.0, -1042400.0}, {-568990.997, -1050538.643}}},
        {"Nad27", kNad27Esri, "NAD27", {{-100.0, 40.0}, {-99.5, 40.5}, {-98.25, 39.75}}},
        // Kansas, Ontario, Mexico, Alaska and Cuba: each in its own shift.
        {"Nad27AcrossAreas", kNad27Esri, "NAD27",
         {{-100.0, 40.0}, {-85.0, 50.5}, {-102.0, 23.0}, {-150.0, 62.0}, {-79.5, 22.0}}},
        // Ottawa, New York City, Montreal and Albany.
        {"Nad27Utm18", kNad27Utm18Esri, "NAD27 / UTM zone 18N",
         {{452814.4, 4999561.8}, {584448.2, 4505724.1}, {617169.3, 5039363.6}, {602428.3, 4722493.4}}},
        // Munich and Dresden inside the German grid's area, then two points
        // beyond Germany's bounds (Tyrol, Silesia).
        {"DhdnBeyondGermany", kDhdnGaussKruger4Esri, "DHDN / 3-degree Gauss-Kruger zone 4",
         {{4468105.2, 5333640.9}, {4622114.6, 5658648.3}, {4500108.8, 5206804.8}, {4748399.4, 5601879.6}}},
        // Luxembourg, where the shifts of several areas overlap.
        {"Ed50Luxembourg", kEd50Esri, "ED50", {{6.13, 49.61}, {5.9, 49.5}, {6.4, 50.1}}},
        // Tyrol, the whole layer east of Switzerland: CH1903+ has a
        // published shift all the same, so no warning either.
        {"Lv95OutsideSwitzerland", kLv95Esri, "CH1903+ / LV95",
         {{2855099.9, 1222020.9}, {2860722.5, 1266779.9}, {2899701.3, 1241911.7}}},
        // A WKT2 system with its area of use.
        {"AustralianAlbers", albersWithArea("-43.7,112.85,-9.86,153.69"), "GDA94 / Australian Albers",
         {{1000000.0, -3000000.0}, {-1500000.0, -2500000.0}}},
    };
    for (const auto& c : cases) {
        const Conversion conversion = convertLines(c.name, {c.vertices}, c.prj);
        EXPECT_EQ(maskRunningTime(conversion.run.out),
                  programStdout(std::string("[INF] Coordinates are converted from ") + c.crsName +
                                    " to WGS 84.\n",
                                progress({0})))
            << c.name;
        const auto written = writtenPairs(conversion.file);
        const auto expected = cs2csLonLat(c.prj, c.vertices);
        ASSERT_EQ(written.size(), c.vertices.size()) << c.name << conversion.file;
        ASSERT_EQ(expected.size(), c.vertices.size()) << c.name << ": cs2cs (Debian proj-bin) gave no result";
        for (std::size_t i = 0; i < written.size(); ++i) {
            // Six decimals written, rounded: half a unit of the last one,
            // at most 0.06 m.
            EXPECT_NEAR(written[i].first, expected[i].second, 5.0000001e-7) << c.name << " vertex " << i;
            EXPECT_NEAR(written[i].second, expected[i].first, 5.0000001e-7) << c.name << " vertex " << i;
        }
    }
}

TEST(Coordinates, UtmControlPointsComeOutExactly) {
    // On the central meridian of zone 33 (15 E): the equator at northing 0,
    // and latitude 50 at the meridian arc of WGS 84 times 0.9996.
    const Conversion conversion =
        convertLines("UtmControl", {{{500000.0, 0.0}, {500000.0, 5538630.703}}}, kUtm33Esri);
    EXPECT_EQ(conversion.file, crlf(std::string(kDefaultHeader) +
                                    "[POLYLINE]\nData0=(0.000000,15.000000),(50.000000,15.000000)\n"
                                    "Type=1\n[END]\n\n"));
}

TEST(Coordinates, Wgs84LayersAreWrittenAsStored) {
    const std::vector<std::vector<std::pair<double, double>>> lines = {
        {{13.5, 52.25}, {-0.1234567, 51.5}, {179.9999995, -89.0000005}}};
    const Conversion withoutPrj = convertLines("NoPrj", lines, std::nullopt);
    EXPECT_EQ(maskRunningTime(withoutPrj.run.out), programStdout("", progress({0})));
    const struct {
        const char* name;
        std::string prj;
    } cases[] = {
        {"Esri", kWgs84Esri},
        {"EsriWithLineEnd", std::string(kWgs84Esri) + "\r\n"},
        {"OgcWkt1",
         "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563,AUTHORITY["
         "\"EPSG\",\"7030\"]],AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0,AUTHORITY[\"EPSG\","
         "\"8901\"]],UNIT[\"degree\",0.0174532925199433,AUTHORITY[\"EPSG\",\"9122\"]],AXIS["
         "\"Latitude\",NORTH],AXIS[\"Longitude\",EAST],AUTHORITY[\"EPSG\",\"4326\"]]"},
        // Latitude first, as EPSG:4326 declares it: still the same system.
        {"Wkt2LatitudeFirst",
         "GEOGCRS[\"WGS 84\",DATUM[\"World Geodetic System 1984\",ELLIPSOID[\"WGS 84\",6378137,"
         "298.257223563]],CS[ellipsoidal,2],AXIS[\"latitude\",north,ORDER[1],ANGLEUNIT[\"degree\","
         "0.0174532925199433]],AXIS[\"longitude\",east,ORDER[2],ANGLEUNIT[\"degree\","
         "0.0174532925199433]],ID[\"EPSG\",4326]]"},
        // With a height, which the .shp's x and y do not hold (EPSG:4979).
        {"Wgs84With3D",
         "GEOGCRS[\"WGS 84\",DATUM[\"World Geodetic System 1984\",ELLIPSOID[\"WGS 84\",6378137,"
         "298.257223563]],CS[ellipsoidal,3],AXIS[\"latitude\",north,ORDER[1],ANGLEUNIT[\"degree\","
         "0.0174532925199433]],AXIS[\"longitude\",east,ORDER[2],ANGLEUNIT[\"degree\","
         "0.0174532925199433]],AXIS[\"ellipsoidal height\",up,ORDER[3],LENGTHUNIT[\"metre\",1]],"
         "ID[\"EPSG\",4979]]"},
        {"TowgsZero",
         "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563],"
         "TOWGS84[0,0,0,0,0,0,0]],PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]]"},
    };
    for (const auto& c : cases) {
        const Conversion conversion = convertLines(std::string("Wgs84.") + c.name, lines, c.prj);
        EXPECT_EQ(maskRunningTime(conversion.run.out), maskRunningTime(withoutPrj.run.out)) << c.name;
        EXPECT_TRUE(conversion.file == withoutPrj.file) << c.name;
    }
}

TEST(Coordinates, PrjIsFoundLikeTheLayersOtherFiles) {
    const std::vector<std::vector<std::pair<double, double>>> lines = {{{500000.0, 0.0}}};
    const std::string converted = "[POLYLINE]\nData0=(0.000000,15.000000)\nType=1\n[END]\n\n";
    const std::string asStored = "[POLYLINE]\nData0=(0.000000,500000.000000)\nType=1\n[END]\n\n";
    const struct {
        const char* name;
        const char* prjName;
        const char* layerArgument;
        std::string sections;
    } cases[] = {
        {"UpperCase", "layer.PRJ", "layer.shp", converted},
        {"NoExtension", "layer.prj", "layer", converted},
        {"OtherExtension", "layer.prj", "layer.dbf", converted},
        // The .prj of another layer is not this one's.
        {"OtherLayer", "layer.shp.prj", "layer.shp", asStored},
    };
    for (const auto& c : cases) {
        const Conversion conversion =
            convertLines(std::string("Find.") + c.name, lines, kUtm33Esri, c.prjName, c.layerArgument);
        EXPECT_EQ(conversion.file, crlf(kDefaultHeader + c.sections)) << c.name;
    }
}

TEST(Coordinates, EsriSystemPrjCannotBuildAnOperationForIsIdentified) {
    // NTF (Paris) in the ESRI dialect: grads from the Paris meridian. PROJ
    // finds no operation for it as written (too deep a recursion), but for
    // the EPSG system it identifies (EPSG:4807). 48.85 and 2.35 grads are
    // 43.965005 N 4.451646 E in WGS 84, as ogr2ogr converts them too.
    const Conversion conversion = convertLines(
        "ParisGrads", {{{2.35, 48.85}}},
        std::string("GEOGCS[\"GCS_NTF_Paris\",DATUM[\"D_NTF\",SPHEROID[\"Clarke_1880_IGN\",6378249.2,"
                    "293.466021293627]],PRIMEM[\"Paris\",2.33722917],UNIT[\"Grad\",0.0157079632679489]]"));
    EXPECT_EQ(maskRunningTime(conversion.run.out),
              programStdout("[INF] Coordinates are converted from NTF (Paris) to WGS 84.\n", progress({0})));
    EXPECT_EQ(conversion.file,
              crlf(std::string(kDefaultHeader) + "[POLYLINE]\nData0=(43.965005,4.451646)\nType=1\n[END]\n\n"));
}

TEST(Coordinates, UnknownDatumShiftIsConvertedWithAWarning) {
    // Only a ballpark operation (the ellipsoid changed, no shift): the
    // warning says so, or, for a datum that names nothing but an ellipsoid
    // of WGS 84's size, that the positions are taken as WGS 84.
    const std::string ballpark = " to WGS 84 is known; positions may be off by up to a few hundred metres.\n";
    const std::string ellipsoidOnly =
        "; positions are taken as WGS 84, which may put them off by up to a few metres.\n";
    const struct {
        const char* name;
        std::string prj;
        std::vector<std::pair<double, double>> vertices;
        std::string messages;
        const char* data;
    } cases[] = {
        {"NamedDatum", kUnknownDatum, {{14.5, 50.0}},
         "[INF] Coordinates are converted from GCS_Local to WGS 84.\n"
         "[WRN] No datum shift from GCS_Local" + ballpark,
         "(50.000000,14.500000)"},
        // As R and older tools write a UTM layer: no datum, WGS 84's
        // ellipsoid. On the central meridian of zone 18 (75 W).
        {"EsriUnknownUtm",
         "PROJCS[\"WGS_1984_UTM_Zone_18N\",GEOGCS[\"GCS_unknown\",DATUM[\"D_unknown\",SPHEROID[\"WGS84\","
         "6378137,298.257223563]],PRIMEM[\"Greenwich\",0],UNIT[\"Degree\",0.0174532925199433]],PROJECTION["
         "\"Transverse_Mercator\"],PARAMETER[\"latitude_of_origin\",0],PARAMETER[\"central_meridian\",-75],"
         "PARAMETER[\"scale_factor\",0.9996],PARAMETER[\"false_easting\",500000],PARAMETER["
         "\"false_northing\",0],UNIT[\"Meter\",1]]",
         {{500000.0, 0.0}},
         "[INF] Coordinates are converted from WGS 84 / UTM zone 18N to WGS 84.\n"
         "[WRN] The coordinate system WGS 84 / UTM zone 18N names no datum, only the ellipsoid WGS84" +
             ellipsoidOnly,
         "(0.000000,-75.000000)"},
        {"EsriUnknownGrs80UpperCase",
         "GEOGCS[\"GCS_unknown\",DATUM[\"D_UNKNOWN\",SPHEROID[\"GRS80\",6378137,298.257222101]],"
         "PRIMEM[\"Greenwich\",0],UNIT[\"Degree\",0.0174532925199433]]",
         {{14.5, 50.0}},
         "[INF] Coordinates are converted from GCS_unknown to WGS 84.\n"
         "[WRN] The coordinate system GCS_unknown names no datum, only the ellipsoid GRS80" + ellipsoidOnly,
         "(50.000000,14.500000)"},
        {"NotSpecifiedWkt2",
         "GEOGCRS[\"Unknown datum based upon the WGS 84 ellipsoid\",DATUM[\"Not specified (based on WGS 84 "
         "ellipsoid)\",ELLIPSOID[\"WGS 84\",6378137,298.257223563]],CS[ellipsoidal,2],AXIS[\"longitude\","
         "east,ANGLEUNIT[\"degree\",0.0174532925199433]],AXIS[\"latitude\",north,ANGLEUNIT[\"degree\","
         "0.0174532925199433]]]",
         {{14.5, 50.0}},
         "[INF] Coordinates are converted from Unknown datum based upon the WGS 84 ellipsoid to WGS 84.\n"
         "[WRN] The coordinate system Unknown datum based upon the WGS 84 ellipsoid names no datum, only the "
         "ellipsoid WGS 84" + ellipsoidOnly,
         "(50.000000,14.500000)"},
        {"UnknownBasedOnWkt1",
         "GEOGCS[\"unnamed\",DATUM[\"unknown based on GRS80 ellipsoid\",SPHEROID[\"GRS 1980\",6378137,"
         "298.257222101]],PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]]",
         {{14.5, 50.0}},
         "[INF] Coordinates are converted from unnamed to WGS 84.\n"
         "[WRN] The coordinate system unnamed names no datum, only the ellipsoid GRS 1980" + ellipsoidOnly,
         "(50.000000,14.500000)"},
        // No datum, but an ellipsoid far from WGS 84's: up to hundreds of
        // metres after all.
        {"UnknownOnBessel",
         "GEOGCS[\"GCS_unknown\",DATUM[\"D_unknown\",SPHEROID[\"Bessel_1841\",6377397.155,299.1528128]],"
         "PRIMEM[\"Greenwich\",0],UNIT[\"Degree\",0.0174532925199433]]",
         {{14.5, 50.0}},
         "[INF] Coordinates are converted from GCS_unknown to WGS 84.\n"
         "[WRN] No datum shift from GCS_unknown" + ballpark,
         "(50.000000,14.500000)"},
        // A datum with a name of its own on WGS 84's ellipsoid is a datum
        // whose shift PROJ does not know.
        {"NamedDatumOnWgs84Ellipsoid",
         "GEOGCS[\"GCS_Local\",DATUM[\"D_Local\",SPHEROID[\"WGS84\",6378137,298.257223563]],"
         "PRIMEM[\"Greenwich\",0],UNIT[\"Degree\",0.0174532925199433]]",
         {{14.5, 50.0}},
         "[INF] Coordinates are converted from GCS_Local to WGS 84.\n"
         "[WRN] No datum shift from GCS_Local" + ballpark,
         "(50.000000,14.500000)"},
    };
    for (const auto& c : cases) {
        const Conversion conversion = convertLines(std::string("Ballpark.") + c.name, {c.vertices}, c.prj);
        EXPECT_EQ(maskRunningTime(conversion.run.out), programStdout(c.messages, progress({0}))) << c.name;
        EXPECT_EQ(conversion.file, crlf(std::string(kDefaultHeader) + "[POLYLINE]\nData0=" + c.data +
                                        "\nType=1\n[END]\n\n"))
            << c.name;
    }
}

TEST(Coordinates, UnreadablePrjLeavesCoordinatesAsStored) {
    const std::vector<std::vector<std::pair<double, double>>> lines = {{{13.5, 52.25}}};
    const std::string asStored = crlf(std::string(kDefaultHeader) +
                                      "[POLYLINE]\nData0=(52.250000,13.500000)\nType=1\n[END]\n\n");
    const std::string utm(kUtm33Esri);
    const struct {
        const char* name;
        std::string prj;
        const char* prjName;
    } cases[] = {
        {"Empty", "", "layer.prj"},
        {"Blank", " \r\n\t\n", "layer.prj"},
        {"Garbage", "this is no coordinate system", "layer.prj"},
        {"Truncated", utm.substr(0, utm.size() / 2), "layer.prj"},
        {"NulByte", std::string("GEOGCS[\0", 8), "layer.prj"},
        {"Vertical", "VERT_CS[\"NAVD88\",VERT_DATUM[\"North American Vertical Datum 1988\",2005],"
                     "UNIT[\"metre\",1]]", "layer.prj"},
        {"Engineering", "LOCAL_CS[\"Site grid\",LOCAL_DATUM[\"Site\",0],UNIT[\"metre\",1]]", "layer.prj"},
        {"UpperCaseName", "garbage", "layer.PRJ"},
        // Areas of use beyond -180..180 or -90..90, on the system itself or
        // on a part of it (the first made PROJ 9.1 overflow its stack).
        {"AreaWestBeyond180", albersWithArea("-43.7,180.1,-9.86,153.69"), "layer.prj"},
        {"AreaSouthBeyond90", albersWithArea("-95,112.85,-9.86,153.69"), "layer.prj"},
        {"AreaEastBeyond180", albersWithArea("-43.7,112.85,-9.86,-180.5"), "layer.prj"},
        {"AreaOfBoundSystemsSource",
         "BOUNDCRS[SOURCECRS[GEOGCRS[\"x\",DATUM[\"d\",ELLIPSOID[\"GRS 1980\",6378137,298.257222101]],"
         "CS[ellipsoidal,2],AXIS[\"lon\",east,ANGLEUNIT[\"degree\",0.0174532925199433]],AXIS[\"lat\",north,"
         "ANGLEUNIT[\"degree\",0.0174532925199433]],USAGE[SCOPE[\"s\"],BBOX[-43.7,180.1,-9.86,153.69]]]],"
         "TARGETCRS[GEOGCRS[\"WGS 84\",DATUM[\"World Geodetic System 1984\",ELLIPSOID[\"WGS 84\",6378137,"
         "298.257223563]],CS[ellipsoidal,2],AXIS[\"lat\",north,ANGLEUNIT[\"degree\",0.0174532925199433]],"
         "AXIS[\"lon\",east,ANGLEUNIT[\"degree\",0.0174532925199433]],ID[\"EPSG\",4326]]],"
         "ABRIDGEDTRANSFORMATION[\"t\",METHOD[\"Geocentric translations\",ID[\"EPSG\",9603]],PARAMETER["
         "\"X-axis translation\",1,ID[\"EPSG\",8605]],PARAMETER[\"Y-axis translation\",2,ID[\"EPSG\",8606]],"
         "PARAMETER[\"Z-axis translation\",3,ID[\"EPSG\",8607]]]]",
         "layer.prj"},
    };
    for (const auto& c : cases) {
        const Conversion conversion =
            convertLines(std::string("Unreadable.") + c.name, lines, c.prj, c.prjName);
        EXPECT_EQ(maskRunningTime(conversion.run.out),
                  programStdout(std::string("[WRN] The coordinate system in ") + c.prjName +
                                    " cannot be read; coordinates are written as stored.\n",
                                progress({0})))
            << c.name;
        EXPECT_EQ(conversion.file, asStored) << c.name;
        EXPECT_EQ(conversion.run.err, "") << c.name;  // PROJ says nothing of its own
    }
    // A folder, a pipe (whose open would wait for a writer forever) and a
    // device where the .prj should be cannot be read either.
    for (const char* kind : {"Folder", "Pipe", "Device"}) {
        const fs::path dir = scratchFolder(std::string("Coordinates.Unreadable.") + kind);
        Layer layer;
        layer.shapes = {point(1, 2)};
        layer.fields = {{"TYPE", FTString, 8, 0}};
        layer.records = {{"1"}};
        writeLayer(dir / "layer", layer);
        const std::string prj = (dir / "layer.prj").string();
        if (std::string(kind) == "Folder") fs::create_directory(prj);
        if (std::string(kind) == "Pipe") {
            ASSERT_EQ(mkfifo(prj.c_str(), 0600), 0);
        }
        if (std::string(kind) == "Device") fs::create_symlink("/dev/zero", prj);
        const RunResult run = runProgram(dir, {"layer.shp", "TYPE", "TYPE"});
        EXPECT_NE(run.out.find("[WRN] The coordinate system in layer.prj cannot be read; coordinates "
                               "are written as stored.\n[INF] The layer.shp file contains Point elements.\n"),
                  std::string::npos)
            << kind << run.out;
    }
}

TEST(Coordinates, VerticesThatCannotBeConvertedSkipTheirRecord) {
    const double nan = std::nan("");
    const double inf = HUGE_VAL;
    const Conversion conversion = convertLines(
        "Unconvertible",
        {{{500000.0, 0.0}}, {{1e30, 0.0}, {500000.0, 0.0}}, {{500000.0, nan}}, {{inf, 0.0}}, {{500000.0, 0.0}}},
        kUtm33Esri);
    EXPECT_EQ(maskRunningTime(conversion.run.out),
              programStdout("[INF] Coordinates are converted from WGS 84 / UTM zone 33N to WGS 84.\n",
                            progress({0, 20, 40, 60, 80}),
                            "\n[WRN] 3 records have coordinates that cannot be converted to WGS 84 and "
                            "were skipped (first: record 2)."));
    const std::string section = "[POLYLINE]\nData0=(0.000000,15.000000)\nType=1\n[END]\n\n";
    EXPECT_EQ(conversion.file, crlf(kDefaultHeader + section + section));
}

// The largest double that printf writes as `edge` with six decimals (its
// successor is written one millionth more), found by halving the gap.
double largestWrittenAs(double edge) {
    char edgeText[32];
    std::snprintf(edgeText, sizeof edgeText, "%.6f", edge);
    double below = edge;
    double above = edge + 1e-6;
    while (std::nextafter(below, above) != above) {
        const double middle = below + (above - below) / 2;
        char text[32];
        std::snprintf(text, sizeof text, "%.6f", middle);
        (std::string(text) == edgeText ? below : above) = middle;
    }
    return below;
}

TEST(Coordinates, CoordinatesOutsideLatitudeAndLongitudeAreReported) {
    // What counts is the pair as written: a vertex written as 180.000000 or
    // -90.000000 is in range, one written as 180.000001 is not.
    const double nan = std::nan("");
    const double lonEdge = largestWrittenAs(180.0);
    const double latEdge = largestWrittenAs(90.0);
    const double beyondLon = std::nextafter(lonEdge, 200.0);
    const double beyondLat = std::nextafter(latEdge, 100.0);
    const struct {
        const char* name;
        std::vector<std::vector<std::pair<double, double>>> lines;
        const char* warning;
    } cases[] = {
        // A projected layer without its .prj: metres taken for degrees.
        {"MetresWithoutPrj", {{{389000.5, 5819000.25}, {391234.125, 5820111.5}}, {{13.0, 52.0}}},
         "\n[WRN] 1 records have coordinates outside latitude -90..90 or longitude -180..180 "
         "(first: record 1)."},
        {"Edges", {{{180.0, 90.0}, {-180.0, -90.0}}, {{13.0, 52.0}}}, ""},
        // Natural Earth's Russia reaches longitude 180.00000000000006.
        {"WrittenAsTheEdges",
         {{{180.00000000000006, 66.0}, {lonEdge, latEdge}}, {{-lonEdge, -latEdge}, {180.0000001, -90.0000001}}},
         ""},
        {"JustOutside",
         {{{13.0, 52.0}}, {{beyondLon, 0.0}}, {{0.0, -beyondLat}}, {{-beyondLon, 0.0}, {13.0, 52.0}},
          {{0.0, beyondLat}}},
         "\n[WRN] 4 records have coordinates outside latitude -90..90 or longitude -180..180 "
         "(first: record 2)."},
        {"NotFinite", {{{13.0, 52.0}}, {{13.0, 52.0}, {nan, 52.0}}, {{HUGE_VAL, 0.0}}, {{0.0, -HUGE_VAL}}},
         "\n[WRN] 3 records have coordinates outside latitude -90..90 or longitude -180..180 "
         "(first: record 2)."},
    };
    for (const auto& c : cases) {
        const Conversion conversion = convertLines(std::string("Range.") + c.name, c.lines, std::nullopt);
        std::vector<int> percents;
        for (std::size_t i = 0; i < c.lines.size(); ++i) {
            percents.push_back(static_cast<int>(std::lround(100.0 * static_cast<double>(i) /
                                                            static_cast<double>(c.lines.size()))));
        }
        EXPECT_EQ(maskRunningTime(conversion.run.out), programStdout("", progress(percents), c.warning))
            << c.name;
        // Every record is still written.
        std::size_t nSections = 0;
        for (std::size_t at = conversion.file.find("[POLYLINE]"); at != std::string::npos;
             at = conversion.file.find("[POLYLINE]", at + 1)) {
            ++nSections;
        }
        EXPECT_EQ(nSections, c.lines.size()) << c.name;
    }
    // The edges are written as the edges themselves.
    const Conversion edges = convertLines("Range.EdgesWritten", {{{lonEdge, latEdge}, {-lonEdge, -latEdge}}},
                                          std::nullopt);
    EXPECT_EQ(edges.file, crlf(std::string(kDefaultHeader) +
                               "[POLYLINE]\nData0=(90.000000,180.000000),(-90.000000,-180.000000)\n"
                               "Type=1\n[END]\n\n"));
}

TEST(Coordinates, ClosingWarningsComeInTheirOrder) {
    // Records without coordinates, records that cannot be converted, shapes
    // without attribute record, coordinates out of range: in this order.
    // Out of range is only reachable without conversion (PROJ gives
    // latitude and longitude within their bounds), hence two layers.
    const struct {
        const char* name;
        const char* prj;
        std::vector<Shape> shapes;
        const char* coordinateMessages;
        const char* warnings;
    } cases[] = {
        {"Converted", kUtm33Esri,
         {multiPart(SHPT_ARC, {{{500000.0, 0.0}}}), nullShape(), multiPart(SHPT_ARC, {{{1e30, 0.0}}}),
          multiPart(SHPT_ARC, {{{500000.0, 0.0}}})},
         "[INF] Coordinates are converted from WGS 84 / UTM zone 33N to WGS 84.\n",
         "\n[WRN] 1 records without coordinates were skipped (first: record 2)."
         "\n[WRN] 1 records have coordinates that cannot be converted to WGS 84 and were skipped "
         "(first: record 3)."
         "\n[WRN] 1 shape records have no attribute record and were ignored."},
        {"AsStored", "",
         {multiPart(SHPT_ARC, {{{500000.0, 0.0}}}), nullShape(), multiPart(SHPT_ARC, {{{1.0, 2.0}}}),
          multiPart(SHPT_ARC, {{{500000.0, 0.0}}})},
         "",
         "\n[WRN] 1 records without coordinates were skipped (first: record 2)."
         "\n[WRN] 1 shape records have no attribute record and were ignored."
         "\n[WRN] 1 records have coordinates outside latitude -90..90 or longitude -180..180 "
         "(first: record 1)."},
    };
    for (const auto& c : cases) {
        const fs::path dir = scratchFolder(std::string("Coordinates.Order.") + c.name);
        Layer layer;
        layer.shapeType = SHPT_ARC;
        layer.fields = {{"TYPE", FTString, 8, 0}};
        layer.shapes = c.shapes;
        layer.records = {{"1"}, {"2"}, {"3"}};
        writeLayer(dir / "layer", layer);
        if (*c.prj != '\0') writeFile(dir / "layer.prj", c.prj);
        const RunResult run = runProgram(dir, {"layer.shp", "TYPE", "TYPE"});
        EXPECT_EQ(maskRunningTime(run.out),
                  programStdout(c.coordinateMessages, progress({0, 33, 67}), c.warnings))
            << c.name;
    }
}

}  // namespace
