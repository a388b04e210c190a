#include "BarcodeRegions.h"

#include <QRect>
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
// Where the print is grey on grey (ink 130 on paper 200, a card in the shade) no step reaches that: there
// a step of the same share of the greys around it counts, but never one so small that grain or a
// surface's texture would.
constexpr double cStrongShare = 0.64;
constexpr int cFaintestStep = 40;
// Share of strong pixels from which a window is worth a closer look. Small, blurred and dim codes score
// little more than a scene's busiest parts, so the bar is low and the count of pieces bounds the cost: at 0.3
// a third of the codes under 8% of the photo's width went unread, at 0.1 a fifth, with no false code added
// on stripes, fences, text or grids.
constexpr double cMinimumScore = 0.1;

// Sums of squared grey steps over one cell: whole numbers that int holds for a cell, and adding them as
// int costs a fraction of adding them as double.
struct Cell
{
    int xx = 0;
    int yy = 0;
    int xy = 0;
    int strong = 0;
};

struct Window
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
    // The range of greys over each cell and its neighbours sets the step its pixels must make.
    std::vector<uchar> lowest(cells.size(), 255);
    std::vector<uchar> highest(cells.size(), 0);
    // Cell by cell along a line, so that each cell's sums stay in registers over its pixels: per pixel,
    // adding to the cell in memory was most of the cost of the search.
    for (int y = 1; y < rows * cCell + 1; ++y) {
        const uchar *line = grey.constScanLine(y);
        const size_t rowStart = size_t((y - 1) / cCell) * size_t(columns);
        for (int column = 0; column < columns; ++column) {
            const uchar *pixels = line + 1 + column * cCell;
            uchar low = pixels[0];
            uchar high = pixels[0];
            for (int i = 1; i < cCell; ++i) {
                low = std::min(low, pixels[i]);
                high = std::max(high, pixels[i]);
            }
            const size_t at = rowStart + size_t(column);
            lowest[at] = std::min(lowest[at], low);
            highest[at] = std::max(highest[at], high);
        }
    }
    std::vector<int> strong2(cells.size());
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column) {
            int low = 255;
            int high = 0;
            for (int r = std::max(0, row - 1); r <= std::min(rows - 1, row + 1); ++r)
                for (int c = std::max(0, column - 1); c <= std::min(columns - 1, column + 1); ++c) {
                    low = std::min(low, int(lowest[size_t(r) * size_t(columns) + size_t(c)]));
                    high = std::max(high, int(highest[size_t(r) * size_t(columns) + size_t(c)]));
                }
            const int step = std::max(cFaintestStep, std::min(cStrongStep, int(cStrongShare * (high - low))));
            strong2[size_t(row) * size_t(columns) + size_t(column)] = step * step;
        }
    for (int y = 1; y < rows * cCell + 1; ++y) {
        const uchar *above = grey.constScanLine(y - 1);
        const uchar *line = grey.constScanLine(y);
        const uchar *below = grey.constScanLine(y + 1);
        Cell *rowCells = &cells[size_t((y - 1) / cCell) * size_t(columns)];
        const int *rowStrong2 = &strong2[size_t((y - 1) / cCell) * size_t(columns)];
        for (int column = 0; column < columns; ++column) {
            const int least2 = rowStrong2[column];
            int xx = 0;
            int yy = 0;
            int xy = 0;
            int strong = 0;
            for (int x = 1 + column * cCell; x < 1 + (column + 1) * cCell; ++x) {
                const int gx = int(line[x + 1]) - int(line[x - 1]);
                const int gy = int(below[x]) - int(above[x]);
                xx += gx * gx;
                yy += gy * gy;
                xy += gx * gy;
                strong += gx * gx + gy * gy >= least2;
            }
            Cell &cell = rowCells[column];
            cell.xx += xx;
            cell.yy += yy;
            cell.xy += xy;
            cell.strong += strong;
        }
    }

    struct Candidate
    {
        int column;
        int row;
        double score;
        double angle;
        double coherence;
    };
    std::vector<Candidate> candidates;
    const double pixels = double(cWindowCells * cWindowCells * cCell * cCell);
    for (int row = 0; row + cWindowCells <= rows; ++row) {
        for (int column = 0; column + cWindowCells <= columns; ++column) {
            Window sum;
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
                candidates.push_back({column, row, score, angle < 0 ? angle + 180 : angle, coherence});
            }
        }
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate &a, const Candidate &b) { return a.score > b.score; });

    // Overlapping windows describe the same code: the best stands for the windows joined to it, and the area
    // spans them all, so that a code larger than a window, turned or in perspective, is read whole.
    const int windowColumns = columns - cWindowCells + 1;
    const int windowRows = rows - cWindowCells + 1;
    std::vector<int> passing(size_t(windowColumns) * size_t(windowRows), -1);
    for (size_t i = 0; i < candidates.size(); ++i)
        passing[size_t(candidates[i].row) * size_t(windowColumns) + size_t(candidates[i].column)] = int(i);
    std::vector<bool> joined(candidates.size(), false);
    QList<Region> regions;
    std::vector<int> stack;
    for (size_t i = 0; i < candidates.size() && regions.size() < count; ++i) {
        if (joined[i])
            continue;
        joined[i] = true;
        QRect windows(candidates[i].column, candidates[i].row, 1, 1);
        stack.assign(1, int(i));
        while (!stack.empty()) {
            const Candidate &at = candidates[size_t(stack.back())];
            stack.pop_back();
            windows |= QRect(at.column, at.row, 1, 1);
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int c = at.column + dx;
                    const int r = at.row + dy;
                    if (c < 0 || r < 0 || c >= windowColumns || r >= windowRows)
                        continue;
                    const int next = passing[size_t(r) * size_t(windowColumns) + size_t(c)];
                    if (next >= 0 && !joined[size_t(next)]) {
                        joined[size_t(next)] = true;
                        stack.push_back(next);
                    }
                }
        }
        const Candidate &best = candidates[i];
        const QRectF area(double(windows.left() * cCell + 1) / grey.width(),
                          double(windows.top() * cCell + 1) / grey.height(),
                          double((windows.width() - 1 + cWindowCells) * cCell) / grey.width(),
                          double((windows.height() - 1 + cWindowCells) * cCell) / grey.height());
        const QRectF window(double(best.column * cCell + 1) / grey.width(),
                            double(best.row * cCell + 1) / grey.height(), double(cWindowCells * cCell) / grey.width(),
                            double(cWindowCells * cCell) / grey.height());
        regions.append({area, window, best.score, best.angle, best.coherence});
    }
    return regions;
}
