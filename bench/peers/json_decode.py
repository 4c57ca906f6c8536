import json
import os

with open(os.path.join(os.path.dirname(__file__), "..", "data", "mixed.json"), encoding="utf-8") as f:
    data = json.loads(f.read())
print(len(data), data[-1]["id"])
