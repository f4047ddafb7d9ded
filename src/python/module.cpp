// The Python module `polygons`: the trial engine in a Python process, its
// results as NumPy arrays. The runs themselves are those of
// python/in_process.hpp; this file only converts between Python and C++,
// releases the interpreter during the trials and lets Ctrl-C stop them.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "python/in_process.hpp"
#include "run/engine_policy.hpp"
#include "run/progress.hpp"
#include "sim/kernel_set.hpp"
#include "text/io.hpp"

namespace py = pybind11;
using namespace pybind11::literals;

namespace polygons::python {
namespace {

// Thrown out of the engine when the interpreter has a signal's exception
// (KeyboardInterrupt) pending; the exception itself waits in the
// interpreter until the trials have stopped.
struct Interrupted {};

// Watches a run from the thread that called it, with the interpreter
// released: a few times a second it takes the interpreter back to run the
// signal handlers (Ctrl-C) and, when asked, to show the progress on
// sys.stderr once the run has lasted a second, as the program does. Python
// code runs then in the caller's floating-point mode, not in the trials',
// which reads subnormal numbers as 0.
class RunWatch : public sim::ProgressSink {
 public:
  explicit RunWatch(bool show) : show_(show), callers_mode_(run::floating_point_mode()) {}

  void start() override {
    start_ = Clock::now();
    next_look_ = start_ + kLookEvery;
  }

  void update(double fraction_done) override {
    fraction_done_ = fraction_done;
    look();
  }

  // Between blocks of trials: the clock is read only every so many.
  void tick() override {
    if (++ticks_ % kTicksPerClock == 0) look();
  }

  void finish() override {
    if (shown_length_ == 0) return;
    const py::gil_scoped_acquire interpreter;
    clear();
  }

  // With the interpreter held: removes the progress line, if one is shown.
  // An interrupt that comes meanwhile stays pending in the interpreter.
  void clear() {
    if (shown_length_ == 0) return;
    const run::FloatingPointModeScope callers(callers_mode_);
    write("\r" + std::string(shown_length_, ' ') + "\r");
    shown_length_ = 0;
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kLookEvery{50};
  static constexpr std::chrono::seconds kShowAfter{1};
  static constexpr unsigned kTicksPerClock = 16;

  void look() {
    const Clock::time_point now = Clock::now();
    if (now < next_look_) return;
    next_look_ = now + kLookEvery;
    const py::gil_scoped_acquire interpreter;
    const run::FloatingPointModeScope callers(callers_mode_);
    if (PyErr_CheckSignals() != 0) throw Interrupted{};
    if (show_ && now - start_ >= kShowAfter) show(now);
  }

  void show(Clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double f = fraction_done_;
    const std::string line = run::progress_text(f, f > 0.0 ? seconds * (1.0 - f) / f : -1.0);
    const std::size_t blanks = shown_length_ > line.size() ? shown_length_ - line.size() : 0;
    if (!write("\r" + line + std::string(blanks, ' '))) throw Interrupted{};
    shown_length_ = std::max(shown_length_, line.size());
  }

  // Called with the interpreter held. A display that cannot be written is
  // given up, not the run; an interrupt (KeyboardInterrupt, SystemExit) that
  // comes during the write is left pending, and the answer is false.
  bool write(const std::string& text) {
    if (!show_) return true;
    try {
      py::object err = py::module_::import("sys").attr("stderr");
      err.attr("write")(text);
      err.attr("flush")();
    } catch (py::error_already_set& e) {
      show_ = false;
      if (!e.matches(PyExc_Exception)) {
        e.restore();
        return false;
      }
    }
    return true;
  }

  bool show_;
  run::FloatingPointMode callers_mode_;
  std::size_t shown_length_ = 0;
  double fraction_done_ = 0.0;
  unsigned ticks_ = 0;
  Clock::time_point start_;
  Clock::time_point next_look_;
};

// The exception Python sees for a refusal of the run's. A run in process
// writes no file, so its only failure of that kind is memory it cannot have.
[[noreturn]] void raise_refusal(const text::FatalError& e) {
  if (e.status() == text::kExitBadInput) throw py::value_error(e.what());
  if (e.status() == text::kExitIoFailure) {
    PyErr_SetString(PyExc_MemoryError, e.what());
    throw py::error_already_set();
  }
  throw std::runtime_error(e.what());
}

// Runs `work` with the interpreter released and the run watched; a refusal
// or Ctrl-C comes back as the Python exception for it.
template <typename Work>
void run_released(bool show_progress, sim::EngineOptions& options, Work work) {
  RunWatch watch(show_progress);
  options.progress = &watch;
  try {
    const py::gil_scoped_release released;
    work();
  } catch (const Interrupted&) {
    watch.clear();
    throw py::error_already_set();  // the pending KeyboardInterrupt
  } catch (const text::FatalError& e) {
    raise_refusal(e);
  }
  // An interrupt during the last words of the progress line.
  if (PyErr_Occurred() != nullptr) throw py::error_already_set();
}

std::string type_name(const py::handle& value) {
  return py::str(py::type::of(value).attr("__name__"));
}

// Whether `value` is a truth value, Python's or NumPy's: not a number here.
bool is_truth_value(const py::handle& value) {
  return PyBool_Check(value.ptr()) || type_name(value) == "bool_";
}

// A whole number (a Python or NumPy integer, not a bool nor a float).
std::int64_t whole_number(const char* name, const py::handle& value) {
  if (is_truth_value(value) || !PyIndex_Check(value.ptr())) {
    throw py::type_error(std::string(name) + " must be an integer, not " + type_name(value));
  }
  const py::int_ number = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
  if (!number) throw py::error_already_set();  // what __index__ raised
  int overflow = 0;
  const long long whole = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (overflow != 0) {
    throw py::value_error(std::string(name) + "=" + py::str(number.ptr()).cast<std::string>() +
                          " is outside the 64-bit integer range");
  }
  return whole;
}

std::int32_t int32_number(const char* name, const py::handle& value) {
  const std::int64_t whole = whole_number(name, value);
  if (whole < std::numeric_limits<std::int32_t>::min() ||
      whole > std::numeric_limits<std::int32_t>::max()) {
    throw py::value_error(std::string(name) + "=" + std::to_string(whole) +
                          " is outside the 32-bit integer range");
  }
  return static_cast<std::int32_t>(whole);
}

// The engine options for threads=None or a count, isa=None or a name.
sim::EngineOptions engine_options(const py::object& threads, const py::object& isa) {
  sim::EngineOptions options;
  if (threads.is_none()) {
    options.threads = run::threads_for_run();
  } else {
    const std::int64_t count = whole_number("threads", threads);
    if (count < 1) {
      throw py::value_error("threads=" + std::to_string(count) + "; a run needs at least 1 thread");
    }
    options.threads = static_cast<int>(std::min<std::int64_t>(count, sim::kMaxThreads));
  }
  if (isa.is_none()) {
    options.kernels = &run::kernels_for_run();
  } else if (PyUnicode_Check(isa.ptr())) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(isa.ptr(), &size);
    if (text == nullptr) throw py::error_already_set();  // not encodable: UnicodeEncodeError
    const std::string name(text, static_cast<std::size_t>(size));
    options.kernels = &run::kernels_named(name, "isa='" + name + "'");
  } else {
    throw py::type_error("isa must be the name of an instruction set or None, not " + type_name(isa));
  }
  return options;
}

// A real number: a Python or NumPy integer or real (not a bool, not text).
double real_number(const char* name, const py::handle& value) {
  if (is_truth_value(value) ||
      !(PyFloat_Check(value.ptr()) || PyIndex_Check(value.ptr()) ||
        py::hasattr(value, "__float__")) ||
      PyUnicode_Check(value.ptr()) || PyBytes_Check(value.ptr())) {
    throw py::type_error(std::string(name) + " must be a number, not " + type_name(value));
  }
  const py::object real = py::reinterpret_steal<py::object>(PyNumber_Float(value.ptr()));
  if (!real) {
    // An integer beyond the doubles is infinite, as the program reads 1e400.
    if (PyLong_Check(value.ptr()) && PyErr_ExceptionMatches(PyExc_OverflowError)) {
      PyErr_Clear();
      return py::int_(py::reinterpret_borrow<py::object>(value)) > py::int_(0)
                 ? std::numeric_limits<double>::infinity()
                 : -std::numeric_limits<double>::infinity();
    }
    throw py::error_already_set();
  }
  return PyFloat_AsDouble(real.ptr());
}

// A vector handed to NumPy without a copy, read-only, kept alive by the
// array.
template <typename T>
py::array_t<T> frozen_array(std::vector<T>&& values) {
  auto* owned = new std::vector<T>(std::move(values));
  py::capsule owner(owned, [](void* p) { delete static_cast<std::vector<T>*>(p); });
  py::array_t<T> array(static_cast<py::ssize_t>(owned->size()), owned->data(), owner);
  array.attr("flags").attr("writeable") = false;
  return array;
}

// What simulate returns.
struct Result {
  InProcessRun run;
  std::string isa;
  int threads = 1;
  py::array_t<double> centres, density, cumulative;
  py::array_t<std::int64_t> counts;
};

py::object optional_real(const std::optional<double>& value) {
  return value ? py::object(py::float_(*value)) : py::object(py::none());
}

std::optional<double> exact_mean(const Result& r) {
  return r.run.exact ? std::optional<double>(r.run.exact->mean) : std::nullopt;
}
std::optional<double> exact_sd(const Result& r) {
  return r.run.exact ? std::optional<double>(r.run.exact->stdev) : std::nullopt;
}
std::optional<double> standard_error(const Result& r) {
  return r.run.weighed ? std::optional<double>(r.run.weighed->standard_error) : std::nullopt;
}
std::optional<double> z_of(const Result& r) {
  return r.run.weighed ? r.run.weighed->z : std::nullopt;
}

// A real, or None where the web's JSON answer has null (NaN, infinities).
py::object finite_or_none(double value) {
  return std::isfinite(value) ? py::object(py::float_(value)) : py::object(py::none());
}

py::dict fit_dict(const sim::GoodnessOfFit& fit) {
  return py::dict("chi_square"_a = finite_or_none(fit.chi_square),
                  "degrees_of_freedom"_a = fit.degrees_of_freedom,
                  "p_value"_a = finite_or_none(fit.p_value),
                  "merged_classes"_a = fit.merged_classes, "merged_into"_a = fit.merged_into);
}

py::dict to_dict(const Result& r) {
  const params::run_parameters& p = r.run.p;
  py::dict parameters("sides"_a = p.sides, "radius"_a = p.radius, "trials"_a = p.N,
                      "seed"_a = p.iseed, "classes"_a = p.klass);
  py::list classes;
  const auto centre = r.centres.unchecked<1>();
  const auto count = r.counts.unchecked<1>();
  const auto density = r.density.unchecked<1>();
  const auto cumulative = r.cumulative.unchecked<1>();
  const std::vector<double>& exact = r.run.fit.probability;
  for (py::ssize_t k = 0; k < centre.shape(0); ++k) {
    const double probability = exact.empty() ? std::nan("") : exact[static_cast<std::size_t>(k)];
    classes.append(py::dict("centre"_a = centre(k), "count"_a = count(k),
                            "density"_a = density(k), "cumulative"_a = cumulative(k),
                            "exact_probability"_a = finite_or_none(probability)));
  }
  const sim::Mode& mode = r.run.histogram.mode;
  py::object theory = py::none();
  if (r.run.exact) theory = py::dict("mean"_a = r.run.exact->mean, "stdev"_a = r.run.exact->stdev);
  return py::dict("parameters"_a = parameters, "trials"_a = p.N,
                  "average"_a = r.run.trials.perim_avg, "stdev"_a = r.run.trials.perim_stdev,
                  "standard_error"_a = optional_real(standard_error(r)),
                  "mode"_a = py::dict("x"_a = mode.x, "y"_a = mode.y),
                  "range"_a = py::dict("min"_a = r.run.range.min, "max"_a = r.run.range.max),
                  "class_width"_a = r.run.trials.class_width, "classes"_a = classes,
                  "theory"_a = theory, "z"_a = optional_real(z_of(r)),
                  "fit"_a = fit_dict(r.run.fit.test),
                  "seed_state"_a = py::make_tuple(r.run.start.s1, r.run.start.s2),
                  "isa"_a = r.isa, "threads"_a = r.threads, "report"_a = r.run.report);
}

std::string result_repr(const Result& r) {
  const params::run_parameters& p = r.run.p;
  return "<polygons.Result sides=" + std::to_string(p.sides) + " radius=" +
         std::string(py::repr(py::float_(p.radius))) + " trials=" + std::to_string(p.N) +
         " seed=" + std::to_string(p.iseed) + " classes=" + std::to_string(p.klass) +
         " mean=" + std::string(py::repr(py::float_(r.run.trials.perim_avg))) +
         " sd=" + std::string(py::repr(py::float_(r.run.trials.perim_stdev))) + ">";
}

Result simulate(const py::object& sides, const py::object& radius, const py::object& trials,
                const py::object& seed, const py::object& classes,
                const py::object& threads, const py::object& isa, bool progress) {
  params::given_parameters given;
  given.sides = int32_number("sides", sides);
  given.radius = real_number("radius", radius);
  given.zn = real_number("trials", trials);
  given.iseed = int32_number("seed", seed);
  given.klass = int32_number("classes", classes);
  sim::EngineOptions options = engine_options(threads, isa);
  Result result;
  result.isa = options.kernels->name;
  result.threads = options.threads;
  run_released(progress, options, [&] { result.run = run_in_process(given, options); });
  for (const std::string& warning : result.run.warnings) {
    if (PyErr_WarnEx(PyExc_UserWarning, ("polygons: " + warning).c_str(), 1) != 0) {
      throw py::error_already_set();  // warnings turned into errors
    }
  }
  // The class arrays move to NumPy; the result reads them there.
  sim::FinishedHistogram& h = result.run.histogram;
  result.centres = frozen_array(std::move(h.centre));
  result.counts = frozen_array(std::move(h.count));
  result.density = frozen_array(std::move(h.density));
  result.cumulative = frozen_array(std::move(h.cumul));
  h.result_z = {};
  return result;
}

py::array_t<double> perimeters(const py::object& sides, const py::object& radius,
                               const py::object& trials, const py::object& seed,
                               const py::object& threads, const py::object& isa, bool progress) {
  const std::int32_t n = int32_number("sides", sides);
  const double r = real_number("radius", radius);
  const std::int64_t count = whole_number("trials", trials);
  const std::int32_t iseed = int32_number("seed", seed);
  try {
    check_perimeter_trials(count);
  } catch (const text::FatalError& e) {
    raise_refusal(e);
  }
  sim::EngineOptions options = engine_options(threads, isa);
  py::array_t<double> values(static_cast<py::ssize_t>(count));
  double* out = values.mutable_data();
  run_released(progress, options, [&] { perimeters_in_process(n, r, count, iseed, out, options); });
  return values;
}

sim::PerimeterMoments exact_moments(const py::object& sides, const py::object& radius) {
  return sim::exact_perimeter_moments(int32_number("sides", sides), real_number("radius", radius));
}

std::vector<std::string> kernel_sets_here() {
  std::vector<std::string> names;
  for (const sim::KernelSet& set : sim::kernel_sets()) {
    if (sim::runs_here(set)) names.emplace_back(set.name);
  }
  return names;
}

}  // namespace
}  // namespace polygons::python

PYBIND11_MODULE(polygons, m) {
  using namespace polygons::python;
  namespace pp = polygons::python;
  m.doc() = R"(Simulation of random polygons.

For n points placed uniformly at random on a circle of radius R, the
perimeter of the polygon that joins them in angular order: its histogram,
average, standard deviation and mode from a Monte Carlo run, the perimeter
of every trial, and the exact mean and standard deviation.

The runs are those of the program `polygons`: the same parameters give,
bit for bit, the figures it writes to its results file, whatever the
number of threads or the instruction set.

    >>> import polygons
    >>> run = polygons.simulate(7, trials=1e6, seed=1)
    >>> run.mean, run.exact_mean, run.z
)";
  m.attr("__version__") = POLYGONS_VERSION;
  // Imported once here, not in the first call; without it, nothing works.
  try {
    py::module_::import("numpy");
  } catch (py::error_already_set& e) {
    const std::string python = py::module_::import("sys").attr("executable").cast<std::string>();
    PyErr_SetString(PyExc_ImportError,
                    ("polygons needs NumPy, which " + python + " cannot import (" + e.what() +
                     "); the module was built for " POLYGONS_PYTHON ", whose NumPy it uses")
                        .c_str());
    throw py::error_already_set();
  }
  py::object namedtuple = py::module_::import("collections").attr("namedtuple");
  m.attr("Moments") = namedtuple("Moments", "mean sd");
  m.attr("Mode") = namedtuple("Mode", "x y");
  m.attr("Fit") =
      namedtuple("Fit", "chi_square degrees_of_freedom p_value merged_classes merged_into");

  py::class_<Result>(m, "Result", R"(A finished run of simulate().

Parameters as used (after the program's limits and defaults): sides,
radius, trials, seed, classes; seed_state, the generator's two words before
the first trial (the clock's, for seed 0); isa and threads, how it ran
(the threads asked for: a run takes at most one per chunk of its trials).

Histogram, one element per class, as NumPy arrays (read-only): centres,
counts (int64, summing to trials), density (count / (trials * class_width))
and cumulative. cumulative is the program's curve: it counts the classes
from the second up to this one, so it starts at 0 and ends below 1 by the
first class's share. class_width and range = (min, max) give the classes.

Figures: mean and sd (sample standard deviation) of the perimeters, mode =
(x, y), the centre and density of the modal class; exact_mean and exact_sd
(None beyond 10000 sides); standard_error = sd / sqrt(trials); z, how many
standard errors mean lies from exact_mean (None when undefined);
exact_probabilities, the exact probability of each class (None where it
is not known exactly); fit, Pearson's chi-square test of the counts against them as
Fit(chi_square, degrees_of_freedom, p_value, merged_classes, merged_into),
classes expecting fewer than 5 trials merged with their neighbours
(degrees_of_freedom 0 and NaN figures when no test is possible).)")
      .def_property_readonly("sides", [](const Result& r) { return r.run.p.sides; })
      .def_property_readonly("radius", [](const Result& r) { return r.run.p.radius; })
      .def_property_readonly("trials", [](const Result& r) { return r.run.p.N; })
      .def_property_readonly("seed", [](const Result& r) { return r.run.p.iseed; })
      .def_property_readonly("classes", [](const Result& r) { return r.run.p.klass; })
      .def_property_readonly("seed_state",
                             [](const Result& r) { return py::make_tuple(r.run.start.s1, r.run.start.s2); })
      .def_readonly("isa", &Result::isa)
      .def_readonly("threads", &Result::threads)
      .def_property_readonly("class_width", [](const Result& r) { return r.run.trials.class_width; })
      .def_property_readonly("range",
                             [](const Result& r) { return py::make_tuple(r.run.range.min, r.run.range.max); })
      .def_readonly("centres", &Result::centres)
      .def_readonly("counts", &Result::counts)
      .def_readonly("density", &Result::density)
      .def_readonly("cumulative", &Result::cumulative)
      .def_property_readonly("mean", [](const Result& r) { return r.run.trials.perim_avg; })
      .def_property_readonly("sd", [](const Result& r) { return r.run.trials.perim_stdev; })
      .def_property_readonly("mode", [m](const Result& r) {
        return m.attr("Mode")(r.run.histogram.mode.x, r.run.histogram.mode.y);
      })
      .def_property_readonly("exact_mean", &exact_mean)
      .def_property_readonly("exact_sd", &exact_sd)
      .def_property_readonly("standard_error", &pp::standard_error)
      .def_property_readonly("z", &z_of)
      .def_property_readonly("exact_probabilities",
                             [](const Result& r) -> py::object {
                               if (r.run.fit.probability.empty()) return py::none();
                               return py::array_t<double>(
                                   static_cast<py::ssize_t>(r.run.fit.probability.size()),
                                   r.run.fit.probability.data());
                             })
      .def_property_readonly("fit", [m](const Result& r) {
        const polygons::sim::GoodnessOfFit& f = r.run.fit.test;
        return m.attr("Fit")(f.chi_square, f.degrees_of_freedom, f.p_value, f.merged_classes,
                             f.merged_into);
      })
      .def_property_readonly("warnings", [](const Result& r) { return r.run.warnings; },
                             "The limits that changed the parameters, as the report states them.")
      .def("report", [](const Result& r) { return r.run.report; },
           "The report's parameter and result lines, as the program writes them (without the "
           "clock lines, the banner and the login line).")
      .def("to_dict", &to_dict,
           "The run as a dict of plain Python values (the layout of the web service's JSON "
           "answer), for json.dump or pandas.")
      .def("__repr__", &result_repr);

  // The signatures are written at the head of each docstring: pybind11's own
  // would show every parameter as `object`.
  py::options options;
  options.disable_function_signatures();

  m.def("simulate", &pp::simulate, "sides"_a, "radius"_a = 1.0, "trials"_a = 1'000'000,
        "seed"_a = 1, "classes"_a = 0, py::kw_only(), "threads"_a = py::none(),
        "isa"_a = py::none(), "progress"_a = false,
        R"(simulate(sides, radius=1.0, trials=1_000_000, seed=1, classes=0, *, threads=None, isa=None, progress=False) -> Result

Runs the simulation and returns a Result.

sides    number of points n (at least 1)
radius   radius R of the circle (not 0, finite; negative as in the program)
trials   number of trials N, a whole number or a real such as 1e6; the
         program's limits apply (raised to 1000, lowered to 2.33e9; a
         warning says so), the web's limit of 1e8 does not
seed     seed of the generator, 32-bit; 0 seeds from the clock (the
         result's seed_state tells the words it gave)
classes  number of histogram classes; below 1: ceil(log2 N) + 1
threads  worker threads; None: OMP_NUM_THREADS, else one per processor
isa      instruction set of the inner loops ("avx512", "avx2", "generic");
         None: POLYGONS_ISA, else the fastest this processor has. The
         figures are the same for every choice of threads and isa.
progress show the share done and the time left on sys.stderr

The interpreter is released during the trials, and Ctrl-C stops them.
Raises ValueError for what the program refuses (with its message),
TypeError for an argument of the wrong type, MemoryError for classes or
sides that do not fit in memory.)");

  m.def("perimeters", &pp::perimeters, "sides"_a, "radius"_a = 1.0, "trials"_a = 1000,
        "seed"_a = 1, py::kw_only(), "threads"_a = py::none(), "isa"_a = py::none(),
        "progress"_a = false,
        R"(perimeters(sides, radius=1.0, trials=1000, seed=1, *, threads=None, isa=None, progress=False) -> numpy.ndarray

The perimeter of every trial, in trial order, as a float64 array.

The same trials as simulate() with the same sides, radius and seed: the
first `trials` of its run, with the very values it counts into classes and
averages. trials is a whole number of at least 1 (no lower limit of 1000
here); an array that would take more than half of this machine's memory is
refused (ValueError) before anything is allocated. threads, isa and
progress as for simulate().)");

  m.def("exact_moments",
        [moments_type = m.attr("Moments")](const py::object& sides, const py::object& radius) {
          const polygons::sim::PerimeterMoments moments = exact_moments(sides, radius);
          return py::object(moments_type(moments.mean, moments.stdev));
        },
        "sides"_a, "radius"_a = 1.0,
        R"(exact_moments(sides, radius=1.0) -> Moments

The exact mean and standard deviation of the perimeter, as Moments(mean, sd).

For sides 1 to 10000 and a finite radius (ValueError otherwise); both to
about 1e-14 relative.)");

  m.def("kernel_sets", &kernel_sets_here,
        "kernel_sets() -> list[str]\n\nThe instruction sets of the inner loops this processor can run, the fastest first.");
}
