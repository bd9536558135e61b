// CUPS's side of the tests: the programs under test, PPDs and raster made
// with CUPS's own tools, and jobs as the scheduler reports them.
#include "cups_util.h"

#include <cups/cups.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

std::string filter_path()
{
    return RASTERTOTESSAL_PATH;
}
std::string mkppd_path()
{
    return MKPPD_PATH;
}
std::string fixture(const char* name)
{
    return std::string(FIXTURE_DIR) + "/" + name;
}

std::string make_test_ppd(const std::string& dir, const char* package, const char* model)
{
    std::string out = dir + "/" + package + ".ppd";
    int rc = run({mkppd_path(), "--package", package, "--model", model, "--size", "A4", "--size",
                     "Letter", "--resolution", "300", "--resolution", "600", "--color", "rgb",
                     "--color", "gray", "--color", "mono", "-o", out},
        {}, 30);
    return rc == 0 ? out : "";
}

bool render_raster(const std::string& ppd, const std::string& doc,
    const std::vector<std::string>& options, const std::string& out)
{
    std::vector<std::string> argv = {"cupsfilter", "-p", ppd, "-m", "application/vnd.cups-raster"};
    for (const std::string& o : options) {
        argv.push_back("-o");
        argv.push_back(o);
    }
    argv.push_back(doc);
    child_io io;
    io.out = out;
    io.err = out + ".log";
    return run(argv, io, 120) == 0;
}

int cups_submit(const std::string& queue, const std::string& file,
    const std::vector<std::string>& options, const std::string& user)
{
    std::vector<std::string> argv = {"lp", "-d", queue};
    if (!user.empty())
        argv.insert(argv.end(), {"-U", user});
    for (const std::string& o : options)
        argv.insert(argv.end(), {"-o", o});
    argv.push_back(file);
    std::string out_path = temp_dir("tessal-lp");
    child_io io;
    io.out = out_path + "/out";
    int rc = run(argv, io, 30);
    std::string out = read_text(io.out);
    remove_dir(out_path);
    std::string want = "request id is " + queue + "-";
    size_t at = out.find(want);
    return rc == 0 && at != std::string::npos ? atoi(out.c_str() + at + want.size()) : -1;
}

cups_job cups_get_job(int id)
{
    cups_job job;
    ipp_t* req = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    char uri[64];
    snprintf(uri, sizeof uri, "ipp://localhost/jobs/%d", id);
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "root");
    ipp_t* resp = cupsDoRequest(CUPS_HTTP_DEFAULT, req, "/");
    if (!resp)
        return job;
    if (ipp_attribute_t* a = ippFindAttribute(resp, "job-state", IPP_TAG_ENUM))
        job.state = ippGetInteger(a, 0);
    if (ipp_attribute_t* a = ippFindAttribute(resp, "job-impressions-completed", IPP_TAG_INTEGER))
        job.impressions = ippGetInteger(a, 0);
    if (ipp_attribute_t* a = ippFindAttribute(resp, "job-printer-state-message", IPP_TAG_TEXT))
        job.message = ippGetString(a, 0, nullptr);
    ippDelete(resp);
    return job;
}

cups_job cups_wait_job(int id, int timeout_s)
{
    cups_job job;
    for (int i = 0; i < timeout_s * 10; i++) {
        job = cups_get_job(id);
        if (job.state >= IPP_JSTATE_STOPPED && job.state != IPP_JSTATE_PROCESSING)
            return job;
        usleep(100000);
    }
    return job;
}
