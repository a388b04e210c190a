#include "BarcodeRegions.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Measured in cells of the picture so the sums of a window are a handful of additions.
constexpr int cCell = 8;
// A window of cells about the size of a small code in a first-look copy.
constexpr int cWindowCells = 5;
// A grey step across two pixels that printed bars and squares give even blurred by the scaling, and that
// leaves, noise, fabric, skin and the text a camera prints on its photos seldom give over a whole window.
constexpr int cStrongStep = 128;
// Share of strong pixels from which a window is worth a closer look: small and turned codes score 0.33 and
// more in a first-look copy, scenes without a label less than 0.27.
constexpr double cMinimumScore = 0.3;

struct Cell
{
    double xx = 0;
    double yy = 0;
    double xy = 0;
    int strong = 0;
};

} // namespace

QList<BarcodeRegions::Region> BarcodeRegions::find(const QImage &picture, int count)
{
    const QImage grey =
        picture.format() == QImage::Format_Grayscale8 ? picture : picture.convertToFormat(QImage::Format_Grayscale8);
    const int columns = (grey.width() - 2) / cCell;
    const int rows = (grey.height() - 2) / cCell;
    if (columns < cWindowCells || rows < cWindowCells || count <= 0)
        return {};
    std::vector<Cell> cells(size_t(columns) * size_t(rows));
    const int strong2 = cStrongStep * cStrongStep;
    for (int y = 1; y < rows * cCell + 1; ++y) {
        const uchar *above = grey.constScanLine(y - 1);
        const uchar *line = grey.constScanLine(y);
        const uchar *below = grey.constScanLine(y + 1);
        Cell *rowCells = &cells[size_t((y - 1) / cCell) * size_t(columns)];
        for (int x = 1; x < columns * cCell + 1; ++x) {
            const int gx = int(line[x + 1]) - int(line[x - 1]);
            const int gy = int(below[x]) - int(above[x]);
            Cell &cell = rowCells[(x - 1) / cCell];
            cell.xx += gx * gx;
            cell.yy += gy * gy;
            cell.xy += gx * gy;
            cell.strong += gx * gx + gy * gy >= strong2;
        }
    }

    struct Candidate
    {
        int column;
        int row;
        double score;
        double angle;
    };
    std::vector<Candidate> candidates;
    const double pixels = double(cWindowCells * cWindowCells * cCell * cCell);
    for (int row = 0; row + cWindowCells <= rows; ++row) {
        for (int column = 0; column + cWindowCells <= columns; ++column) {
            Cell sum;
            for (int r = row; r < row + cWindowCells; ++r)
                for (int c = column; c < column + cWindowCells; ++c) {
                    const Cell &cell = cells[size_t(r) * size_t(columns) + size_t(c)];
                    sum.xx += cell.xx;
                    sum.yy += cell.yy;
                    sum.xy += cell.xy;
                    sum.strong += cell.strong;
                }
            const double energy = sum.xx + sum.yy;
            if (energy <= 0)
                continue;
            // 1 for edges all one way (bars), 0 for edges every way (a matrix code, or foliage).
            const double coherence = std::sqrt((sum.xx - sum.yy) * (sum.xx - sum.yy) + 4 * sum.xy * sum.xy) / energy;
            const double score = sum.strong / pixels * (0.75 + 0.5 * coherence);
            if (score >= cMinimumScore) {
                const double angle = 0.5 * std::atan2(2 * sum.xy, sum.xx - sum.yy) * 180 / M_PI;
                candidates.push_back({column, row, score, angle < 0 ? angle + 180 : angle});
            }
        }
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate &a, const Candidate &b) { return a.score > b.score; });

    // Overlapping windows describe the same code: the best stands for its neighbours.
    QList<Region> regions;
    QList<QPoint> taken;
    for (const Candidate &candidate : candidates) {
        const QPoint at(candidate.column, candidate.row);
        const bool near = std::any_of(taken.cbegin(), taken.cend(), [&](const QPoint &other) {
            return std::abs(other.x() - at.x()) < 3 * cWindowCells && std::abs(other.y() - at.y()) < 3 * cWindowCells;
        });
        if (near)
            continue;
        taken.append(at);
        const QRectF area(double(candidate.column * cCell + 1) / grey.width(),
                          double(candidate.row * cCell + 1) / grey.height(),
                          double(cWindowCells * cCell) / grey.width(), double(cWindowCells * cCell) / grey.height());
        regions.append({area, candidate.score, candidate.angle});
        if (regions.size() == count)
            break;
    }
    return regions;
}
