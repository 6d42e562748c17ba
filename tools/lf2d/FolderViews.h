#pragma once

#include "FolderImages.h"
#include "ImageFolder.h"

#include <memory>
#include <string>
#include <vector>

// Which files of a folder the import reads, and where each stored view comes from.
namespace folder {

// The folder's grid, where its numbering starts, and how many files it has.
struct FolderGrid
{
    int columns = 0;
    int rows = 0;
    int first = 0;
};

// Where the stored view at (column, row) comes from: its place in the folder's grid after the
// flips (in folder view steps) and the file numbers it is stored under.
struct Source
{
    int gridColumn = 0;
    int gridRow = 0;
    int fileColumn = 0;
    int fileRow = 0;
};

// The folder's files, and which of them become the stored views: every every-th view of its grid
// along both axes, its rows and columns flipped as asked.
struct FolderViews
{
    NamePattern views;
    NamePattern maps; // the views' pattern when there are no per-view maps
    FolderGrid grid;
    int every = 1;
    bool flipColumns = false;
    bool flipRows = false;
    // Views read already, row by row of the grid, instead of files; or none.
    std::shared_ptr<const std::vector<Image>> memory;

    int storedColumns() const { return (grid.columns - 1) / every + 1; }
    int storedRows() const { return (grid.rows - 1) / every + 1; }

    Source sourceOf(int column, int row) const
    {
        Source source;
        source.gridColumn = column * every;
        source.gridRow = row * every;
        source.fileColumn = flipColumns ? grid.columns - 1 - source.gridColumn : source.gridColumn;
        source.fileRow = flipRows ? grid.rows - 1 - source.gridRow : source.gridRow;
        return source;
    }
    // The view's file; empty for views held in memory.
    std::string viewPath(const Source &source) const
    {
        return views.name(source.fileColumn, source.fileRow, grid.columns, grid.first);
    }
    std::string mapPath(const Source &source) const
    {
        return maps.name(source.fileColumn, source.fileRow, grid.columns, grid.first);
    }
};

// Checks that the options ask for one source of disparity at most, in a pattern that numbers
// the maps as the views, and finds the folder's grid.
FolderViews openFolder(const ImportOptions &options);

// Views read already, columns × rows of them row by row, as a folder; checks the options as
// openFolder does.
FolderViews viewsInMemory(const ImportOptions &options, std::vector<Image> images, int columns,
                          int rows);

// Every file is looked at before anything is written: a folder with a missing or odd view leaves
// no output behind. Returns what the views share.
ImageFacts probeViews(const FolderViews &folder);

} // namespace folder
