// Start-up check of the configuration keys, and the folder of the executable.
#include "config/config_file.h"

#include <cpptoml.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "config/settings.h"

namespace tovan {

namespace {

namespace fs = std::filesystem;

using Edit = std::function<void(cpptoml::table&)>;

// Splits a dotted key at its last dot: the table holding it and the name inside that table.
std::shared_ptr<cpptoml::table> table_of(cpptoml::table& root, const std::string& key) {
  return root.get_table_qualified(key.substr(0, key.rfind('.')));
}
std::string name_of(const std::string& key) { return key.substr(key.rfind('.') + 1); }

template <typename T>
Edit set(const std::string& key, T value) {
  return [=](cpptoml::table& root) { table_of(root, key)->insert(name_of(key), value); };
}
Edit remove(const std::string& key) {
  return [=](cpptoml::table& root) { table_of(root, key)->erase(name_of(key)); };
}
std::shared_ptr<cpptoml::array> ids(const std::vector<int64_t>& values) {
  auto array = cpptoml::make_array();
  for (int64_t id : values) array->push_back(id);
  return array;
}

using config::InvalidSettings, config::Settings;

Settings settings_after(const std::vector<Edit>& edits) {
  auto table = cpptoml::parse_file(SHIPPED_CONFIG);
  for (const auto& edit : edits) edit(*table);
  return config::read_settings(*table, fs::path(SHIPPED_CONFIG).parent_path());
}

std::vector<std::string> faults_after(const std::vector<Edit>& edits) {
  try {
    settings_after(edits);
    return {};
  } catch (const InvalidSettings& error) {
    return error.faults;
  }
}

// Edits of the shipped configuration and the one key named faulty; none: accepted.
TEST(ConfigCheckTest, EachFaultyKeyIsNamedAndGoodValuesAreAccepted) {
  const std::vector<std::pair<std::string, std::vector<Edit>>> cases = {
      {"", {}},
      {"search.c_puct", {remove("search.c_puct")}},
      {"search.c_puct", {set("search.c_puct", std::string("1.6"))}},
      {"", {set("search.c_puct", 2)}},  // an integer where a float is expected
      {"search.move_temperature", {set("search.move_temperature", 1e39)}},
      {"eval.eval_batch_size", {set("eval.eval_batch_size", std::string("8"))}},
      {"search.num_search_threads", {set("search.num_search_threads", 2.0)}},
      {"search.num_search_threads", {set("search.num_search_threads", 0)}},
      {"", {set("search.num_search_threads", 1)}},
      {"search.visits_limit", {set("search.visits_limit", int64_t{3000000000})}},
      {"", {set("search.visits_limit", int64_t{2147483647})}},
      {"opening.visits_limit", {set("opening.visits_limit", 0)}},
      {"eval.evaluator_cache_capacity", {set("eval.evaluator_cache_capacity", -1)}},
      {"", {set("eval.evaluator_cache_capacity", 0)}},
      {"memory.default_max_memory", {set("memory.default_max_memory", -1)}},
      {"threats.tree_vct_nodes", {set("threats.tree_vct_nodes", 0)}},
      {"threats.vct_threes", {set("threats.vct_threes", 11)}},
      {"eval.device", {set("eval.device", std::string("gpu"))}},
      {"", {set("eval.device", std::string("cuda"))}},
      {"", {set("eval.device", std::string("tensorrt"))}},
      {"eval.nn_input_version", {set("eval.nn_input_version", 1)}},
      {"eval.device_memory_limit", {set("eval.device_memory_limit", -1)}},
      {"opening.margin_range", {set("opening.margin_range", 7)}},
      {"opening.margin_range", {set("opening.margin_range", -1)}},
      {"", {set("opening.margin_range", 0)}},
      {"", {set("opening.margin_range", 6)}},
      {"env.area_candidate_range", {set("env.area_candidate_range", 10), set("env.line_candidate_range", 12)}},
      {"env.line_candidate_range", {set("env.line_candidate_range", -1)}},
      {"", {set("env.area_candidate_range", 0), set("env.line_candidate_range", 0)}},
      {"eval.device_ids", {set("eval.device_ids", ids({}))}},
      {"eval.device_ids", {set("eval.device_ids", ids({0, -1}))}},
      {"eval.device_ids", {set("eval.device_ids", 0)}},
      {"", {set("eval.device_ids", ids({0, 1, 2147483647}))}},
      {"eval.trt_engine_cache_path", {remove("eval.trt_engine_cache_path")}},
      {"debug.print_move", {set("debug.print_move", 1)}},
      {"", {[](cpptoml::table& root) { root.get_table("eval")->erase("model"); }}},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const auto& [key, edits] = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i << " " << key);
    const auto faults = faults_after(edits);
    ASSERT_EQ(faults.size(), key.empty() ? 0u : 1u) << (faults.empty() ? "" : faults[0]);
    if (!key.empty()) {
      EXPECT_EQ(faults[0].rfind(key + " ", 0), 0u) << faults[0];
    }
  }
}

// A GPU's memory limit past 32 bits reaches the evaluators as it is.
TEST(ConfigCheckTest, DeviceMemoryLimitsPast32BitsAreKept) {
  constexpr int64_t kLimit = int64_t{24} << 30;
  EXPECT_EQ(settings_after({set("eval.device_memory_limit", kLimit)}).evaluator.device.device_memory_limit, kLimit);
}

// Model files are looked up at start-up; a missing key is the fault of the games that
// need it, reported then, and the other rules still play.
TEST(ConfigCheckTest, AMissingModelKeyFailsOnlyItsGames) {
  const Settings settings = settings_after({remove("eval.model.Renju")});
  EXPECT_TRUE(settings.model_path(Rule::Standard, 15, 15).ends_with("standard-1.codenet"));
  try {
    settings.model_path(Rule::Renju, 15, 15);
    ADD_FAILURE() << "no fault for the missing key";
  } catch (const config::ConfigError& error) {
    EXPECT_STREQ(error.what(), "configuration key eval.model.Renju is missing or not a string");
  }
}

TEST(DataPathTest, DirectoryOfExecutable) {
  using config::directory_of_executable;
  EXPECT_EQ(directory_of_executable("build/pbrain-tovan"), fs::path("build"));
  EXPECT_EQ(directory_of_executable("./pbrain-tovan"), fs::path("."));
  EXPECT_EQ(directory_of_executable("C:\\tovan\\pbrain-tovan.exe"), fs::path("C:\\tovan"));
  // Found through PATH: argv[0] names no directory, the running program's own is used.
  EXPECT_EQ(directory_of_executable("pbrain-tovan"), fs::read_symlink("/proc/self/exe").parent_path());
}

}  // namespace

}  // namespace tovan
