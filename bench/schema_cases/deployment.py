"""The deployment case: its schema and a generator of documents that follow it."""

from .common import DRAFT, ref, described, STRING_LIST, WORDS, pick, ident

# ---- a deployment manifest -------------------------------------------------------

DNS_LABEL = r"^[a-z0-9]([-a-z0-9]*[a-z0-9])?$"
QUANTITY = {"oneOf": [{"type": "string", "pattern": r"^[0-9]+(\.[0-9]+)?(m|k|M|G|T|Ki|Mi|Gi|Ti)?$"},
                      {"type": "number"}]}

DEPLOYMENT = {
    "$schema": DRAFT,
    "title": "Deployment manifest",
    "type": "object",
    "required": ["apiVersion", "kind", "metadata", "spec"],
    "properties": {
        "apiVersion": {"enum": ["apps/v1"]},
        "kind": {"enum": ["Deployment"]},
        "metadata": ref("objectMeta"),
        "spec": {
            "type": "object",
            "required": ["selector", "template"],
            "properties": {
                "replicas": described("Desired number of pods.", type="integer", minimum=0),
                "revisionHistoryLimit": {"type": "integer", "minimum": 0},
                "selector": ref("labelSelector"),
                "strategy": {"type": "object", "properties": {
                    "type": {"enum": ["RollingUpdate", "Recreate"]},
                    "rollingUpdate": {"type": "object", "properties": {
                        "maxSurge": ref("intOrPercent"), "maxUnavailable": ref("intOrPercent")}}}},
                "template": {"type": "object", "properties": {
                    "metadata": ref("objectMeta"), "spec": ref("podSpec")}},
            },
            "additionalProperties": False,
        },
        "status": {"type": "object"},
    },
    "additionalProperties": False,
    "definitions": {
        "intOrPercent": {"oneOf": [{"type": "integer", "minimum": 0}, {"type": "string", "pattern": "^[0-9]+%$"}]},
        "labels": {
            "type": "object",
            "patternProperties": {
                r"^([a-z0-9A-Z]([a-z0-9A-Z._-]*[a-z0-9A-Z])?/)?[a-z0-9A-Z]([a-z0-9A-Z._-]{0,61}[a-z0-9A-Z])?$": {
                    "type": "string", "maxLength": 63}},
            "additionalProperties": False,
        },
        "objectMeta": {
            "type": "object",
            "properties": {
                "name": {"type": "string", "maxLength": 253,
                         "pattern": r"^[a-z0-9]([-a-z0-9]*[a-z0-9])?(\.[a-z0-9]([-a-z0-9]*[a-z0-9])?)*$"},
                "namespace": {"type": "string", "pattern": DNS_LABEL},
                "labels": ref("labels"),
                "annotations": {"type": "object", "additionalProperties": {"type": "string"}},
            },
        },
        "labelSelector": {"type": "object", "properties": {
            "matchLabels": ref("labels"),
            "matchExpressions": {"type": "array", "items": {
                "type": "object", "required": ["key", "operator"], "properties": {
                    "key": {"type": "string"}, "operator": {"enum": ["In", "NotIn", "Exists", "DoesNotExist"]},
                    "values": STRING_LIST}}}}},
        "envVar": {
            "type": "object",
            "required": ["name"],
            "additionalProperties": False,
            "properties": {
                "name": {"type": "string", "pattern": "^[-._a-zA-Z][-._a-zA-Z0-9]*$"},
                "value": {"type": "string"},
                "valueFrom": {"oneOf": [
                    {"required": ["secretKeyRef"], "properties": {"secretKeyRef": ref("keySelector")}},
                    {"required": ["configMapKeyRef"], "properties": {"configMapKeyRef": ref("keySelector")}},
                    {"required": ["fieldRef"], "properties": {"fieldRef": {"type": "object", "required": [
                        "fieldPath"]}}},
                ]},
            },
        },
        "keySelector": {"type": "object", "required": ["key"], "properties": {
            "key": {"type": "string"}, "name": {"type": "string", "pattern": DNS_LABEL},
            "optional": {"type": "boolean"}}},
        "quantities": {"type": "object", "patternProperties": {"^(cpu|memory|ephemeral-storage)$": QUANTITY},
                       "additionalProperties": False},
        "probe": {"type": "object", "properties": {
            "httpGet": {"type": "object", "required": ["port"], "properties": {
                "path": {"type": "string", "pattern": "^/"},
                "port": {"oneOf": [{"type": "integer", "minimum": 1, "maximum": 65535},
                                   {"type": "string", "pattern": DNS_LABEL}]},
                "scheme": {"enum": ["HTTP", "HTTPS"]}}},
            "tcpSocket": {"type": "object", "required": ["port"]},
            "exec": {"type": "object", "properties": {"command": STRING_LIST}},
            "initialDelaySeconds": {"type": "integer", "minimum": 0},
            "periodSeconds": {"type": "integer", "minimum": 1},
            "timeoutSeconds": {"type": "integer", "minimum": 1},
            "failureThreshold": {"type": "integer", "minimum": 1}},
            "additionalProperties": False},
        "container": {
            "type": "object",
            "required": ["name", "image"],
            "additionalProperties": False,
            "properties": {
                "name": {"type": "string", "pattern": DNS_LABEL, "maxLength": 63},
                "image": described("Container image name.", type="string", minLength=1),
                "imagePullPolicy": {"enum": ["Always", "IfNotPresent", "Never"]},
                "command": STRING_LIST,
                "args": STRING_LIST,
                "workingDir": {"type": "string"},
                "ports": {"type": "array", "items": {
                    "type": "object", "required": ["containerPort"], "additionalProperties": False,
                    "properties": {
                        "containerPort": {"type": "integer", "minimum": 1, "maximum": 65535},
                        "name": {"type": "string", "pattern": DNS_LABEL, "maxLength": 15},
                        "protocol": {"enum": ["TCP", "UDP", "SCTP"]}}}},
                "env": {"type": "array", "items": ref("envVar")},
                "resources": {"type": "object", "additionalProperties": False, "properties": {
                    "limits": ref("quantities"), "requests": ref("quantities")}},
                "livenessProbe": ref("probe"),
                "readinessProbe": ref("probe"),
                "volumeMounts": {"type": "array", "items": {
                    "type": "object", "required": ["name", "mountPath"], "properties": {
                        "name": {"type": "string"}, "mountPath": {"type": "string", "pattern": "^/"},
                        "readOnly": {"type": "boolean"}, "subPath": {"type": "string"}}}},
                "securityContext": {"type": "object"},
            },
        },
        "volume": {
            "type": "object",
            "required": ["name"],
            "properties": {"name": {"type": "string", "pattern": DNS_LABEL}},
            "oneOf": [{"required": ["configMap"]}, {"required": ["secret"]}, {"required": ["emptyDir"]},
                      {"required": ["persistentVolumeClaim"]}],
        },
        "podSpec": {
            "type": "object",
            "required": ["containers"],
            "properties": {
                "containers": {"type": "array", "items": ref("container"), "minItems": 1},
                "initContainers": {"type": "array", "items": ref("container")},
                "volumes": {"type": "array", "items": ref("volume")},
                "serviceAccountName": {"type": "string", "pattern": DNS_LABEL},
                "nodeSelector": {"type": "object", "additionalProperties": {"type": "string"}},
                "restartPolicy": {"enum": ["Always", "OnFailure", "Never"]},
                "terminationGracePeriodSeconds": {"type": "integer", "minimum": 0},
                "tolerations": {"type": "array", "items": {"type": "object", "properties": {
                    "key": {"type": "string"}, "operator": {"enum": ["Exists", "Equal"]},
                    "effect": {"enum": ["NoSchedule", "PreferNoSchedule", "NoExecute"]}}}},
            },
        },
    },
}


def deployment(rng):
    app = ident(rng)
    labels = {"app.kubernetes.io/name": app, "tier": pick(rng, ["web", "worker", "cache"])}

    def container(i):
        c = {"name": f"{app}-{i}", "image": f"registry.example.com/{app}:{rng.randint(1, 9)}.{rng.randint(0, 9)}",
             "imagePullPolicy": "IfNotPresent",
             "ports": [{"containerPort": rng.randint(1024, 9999), "name": "http", "protocol": "TCP"}]}
        if rng.random() < 0.8:
            c["env"] = [{"name": f"{pick(rng, WORDS).upper()}_{k}", "value": pick(rng, WORDS)}
                        for k in range(rng.randint(1, 6))]
            if rng.random() < 0.5:
                c["env"].append({"name": "PASSWORD", "valueFrom": {
                    "secretKeyRef": {"name": f"{app}-secret", "key": "password"}}})
        c["resources"] = {"limits": {"cpu": f"{rng.randint(100, 900)}m", "memory": f"{rng.randint(1, 8)}Gi"},
                          "requests": {"cpu": "100m", "memory": "256Mi"}}
        if rng.random() < 0.7:
            c["livenessProbe"] = {"httpGet": {"path": "/healthz", "port": "http"}, "initialDelaySeconds": 10,
                                  "periodSeconds": 15}
        if rng.random() < 0.5:
            c["volumeMounts"] = [{"name": "config", "mountPath": "/etc/app", "readOnly": True}]
        return c

    pod = {"containers": [container(i) for i in range(rng.randint(1, 3))],
           "volumes": [{"name": "config", "configMap": {"name": f"{app}-config"}}]}
    if rng.random() < 0.4:
        pod["nodeSelector"] = {"kubernetes.io/os": "linux"}
    return {"apiVersion": "apps/v1", "kind": "Deployment",
            "metadata": {"name": app, "namespace": pick(rng, ["default", "prod", "staging"]), "labels": labels},
            "spec": {"replicas": rng.randint(1, 6), "selector": {"matchLabels": labels},
                     "strategy": {"type": "RollingUpdate", "rollingUpdate": {"maxSurge": "25%",
                                                                             "maxUnavailable": 0}},
                     "template": {"metadata": {"labels": labels}, "spec": pod}}}
