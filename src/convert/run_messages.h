#pragma once

#include <QString>
#include <QStringList>

#include "convert/converter_runner.h"

// The words a batch run ends with and gives each file that got no JPEG.

// The message that ends a run. Failures are "path: reason" lines; replaced
// lines name results that a later file of the run wrote over. It shows
// ten lines of each, long ones shortened in the middle, so that the box
// fits the screen; DoneDetails() holds every line in full.
QString DoneMessage(int files, const QStringList& failures,
                    const QStringList& replaced = {});
QString DoneDetails(const QStringList& failures, const QStringList& replaced);

// Why a converter run on `working_copy` left no JPEG, told of the user's
// file. The working folder, which the program reaches as `folder`, is
// named by its `location`, where people can find it.
QString ConverterFailure(int result, const RunnerOutcome& outcome,
                         const QString& working_copy, const QString& folder,
                         const QString& location);
