"""The Job runs one pod on each node it asks for, to its end, once."""
import sys

import yaml

with open(sys.argv[1], encoding="utf-8") as f:
    job = yaml.safe_load(f)
run = job["spec"]
pod = run["template"]["spec"]
labels = run["template"]["metadata"]["labels"]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


check(job["kind"] == "Job", "not a Job")
check(run["completions"] == run["parallelism"],
      "completions and parallelism differ: not one pod per node at once")
check(run.get("completionMode") == "Indexed"
      and run.get("backoffLimitPerIndex") == 0,
      "a failed node would be retried or would stop the others")
check(pod["restartPolicy"] == "Never", "a finished test would restart")
terms = pod["affinity"]["podAntiAffinity"][
    "requiredDuringSchedulingIgnoredDuringExecution"]
check(any(t["topologyKey"] == "kubernetes.io/hostname"
          and t["labelSelector"]["matchLabels"].items() <= labels.items()
          for t in terms), "two pods may share a node")
check(pod["securityContext"]["seccompProfile"]["type"] == "RuntimeDefault",
      "refused where the restricted Pod Security standard is enforced")
check(any(t["key"] in pod["nodeSelector"] for t in pod["tolerations"]),
      "the pods do not keep to the tainted nodes under test")
for container in pod["containers"]:
    context = container["securityContext"]
    check(context["allowPrivilegeEscalation"] is False
          and context["capabilities"]["drop"] == ["ALL"],
          "refused where the restricted Pod Security standard is enforced")
    limits = container.get("resources", {}).get("limits", {})
    check("cpu" not in limits, "a CPU limit would throttle the workers")
    check("--headless" in " ".join(container["command"] + container["args"]),
          "the container does not run the headless test")
for failure in failures:
    print("vorsk-job.yaml:", failure)
sys.exit(1 if failures else 0)
