#pragma once

#include "CheckReport.h"

#include <functional>
#include <vector>

class LineSession;

// How the steps are run.
struct CheckSettings {
    int keyTimeoutMs = 20000;
    bool confirmDisplay = true;
    // The end of the operator's input at the display question stops the check (a station's
    // shift ends there) rather than failing the step.
    bool endOfInputStops = false;
};

// The guided check of one unit on a port that is open: the steps in order, each timed, stopping
// at the first that fails; the unit's display and the operator are then shown the result.
class UnitCheck
{
public:
    struct Outcome {
        CheckStep::Result result;
        QString detail;
    };
    struct Step {
        QString name;
        std::function<Outcome(UnitCheck &)> run;
    };

    // reply, rest, display, key 1 .. key 6.
    static const std::vector<Step> &steps();

    UnitCheck(LineSession &session, const CheckSettings &settings);

    // Runs every step; the steps given (named as steps() names them) get their results. Returns
    // Pass or Fail; throws Stopped when the session is stopped, the steps then telling how far
    // the check came.
    Verdict run(QList<CheckStep> &steps);
    // How long the longest result shown on the unit's display takes on the line at rate.
    static qint64 resultLineTimeMs(int rate);

    // Whether the step that failed failed because the port could no longer be used (the
    // device has gone), rather than because of the unit.
    bool lineFailed() const { return m_lineFailed; }

private:
    Outcome checkReply();
    Outcome checkRest() const;
    Outcome checkDisplay();
    Outcome checkKey(int key);
    void showResult(const QList<CheckStep> &steps);

    LineSession &m_session;
    const CheckSettings m_settings;
    quint8 m_firstStatus = 0;
    bool m_lineFailed = false;
};
