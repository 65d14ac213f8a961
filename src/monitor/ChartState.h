#pragma once

#include <QtGlobal>

// The live chart's part of the monitoring state: the x counter and the automatic bounds.
struct ChartState
{
    qint64 PointCounter = 0; // x of the newest point; the owner starts it at CharMaxCount
    double AutoMinY = 100;   // lowest corrected reading since start or the last reset
    double AutoMaxY = -100;  // highest corrected reading since start or the last reset

    // A valid corrected reading widens the automatic bounds.
    void noteReading(double t)
    {
        if (t > AutoMaxY)
            AutoMaxY = t;
        if (t < AutoMinY)
            AutoMinY = t;
    }

    struct Range
    {
        double minimum;
        double maximum;
    };
    // The left axis range of the automatic bounds: two degrees around the readings. With no
    // reading since the last reset AutoMinY first becomes AutoMaxY - 10 (giving -112..-98).
    Range autoBounds()
    {
        if (AutoMinY > AutoMaxY)
            AutoMinY = AutoMaxY - 10;
        return {AutoMinY - 2, AutoMaxY + 2};
    }

    // Back to the start: x counter at `charMaxCount`, no reading seen.
    void reset(int charMaxCount)
    {
        PointCounter = charMaxCount;
        AutoMaxY = -100;
        AutoMinY = 100;
    }
};
